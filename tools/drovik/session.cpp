#include "session.h"

#include "console.h"

#include "stored_names.h"

#include <drovik/drovik.h>

#include <QtCore/QSettings>

#include <unistd.h>

namespace {

bool onInteractiveTerminal()
{
    return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
}

// The one kind of name the library refuses to store inside protected data
// (see drovik.h), with U+0000 and surrogates escaped, since a terminal would
// print them as nothing or as '?'; empty when the view holds none.
QString nameProtectionCannotHold(const ConfigView &view)
{
    for (const QString &key : view.keyPaths()) {
        if (!key.contains(QChar(0)) && QString::fromUtf8(key.toUtf8()) == key)
            continue;
        QString shown;
        for (const QChar c : key)
            shown += c.isNull() || c.isSurrogate()
                    ? QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'))
                    : QString(c);
        return shown;
    }
    return QString();
}

} // namespace

int Session::open(Access access, PasswordNeed need)
{
    QString error;
    file.close();
    view = ConfigView();
    m_hidden = false;
    if (!file.open(access, &error))
        return fail(Exit::IoError, error);
    const QSettings &stored = *file.settings();
    if (!password.isGiven() && (need == PasswordNeed::Always || holdsProtection(stored))) {
        const bool mayAsk = need != PasswordNeed::IfGiven
                && (need != PasswordNeed::IfInteractive || onInteractiveTerminal());
        if (!mayAsk && !passwordGiven(m_options)) {
            view = layoutView(stored);
            m_hidden = view.holdsProtectedPart();
            return Exit::Ok;
        }
        if (!readPassword(m_options, QStringLiteral("Password for %1: ").arg(path()), &password,
                          &error))
            return fail(Exit::Usage, error);
    }
    if (!loadView(stored, password.bytes(), &view))
        return wrongPassword();
    // Nothing protected can check a password that is about to protect: a typo
    // would lock the file for good, so a typed one is asked twice.
    if (access != Access::Read && !view.holdsProtectedPart() && !confirmPassword(&password, &error))
        return fail(Exit::Usage, error);
    return Exit::Ok;
}

int Session::wrongPassword() const
{
    // Once open() has loaded the view, the password is proven and the library
    // refuses only a name it cannot store (a failed load leaves the view empty).
    const QString name = nameProtectionCannotHold(view);
    if (!name.isEmpty())
        return fail(Exit::IoError,
                    QStringLiteral("%1: the name %2 holds U+0000 or an unpaired surrogate, which "
                                   "protected data cannot store; nothing was changed")
                            .arg(path(), name));
    return fail(Exit::WrongPassword,
                QStringLiteral("%1: wrong password; nothing was changed").arg(path()));
}

int Session::commit()
{
    return commit(password.bytes());
}

int Session::commit(const QByteArray &currentPassword)
{
    QString error;
    QVariantMap tree;
    if (!Drovik::getFileDataWithSaving(file.settings(), currentPassword, &tree))
        return !nameProtectionCannotHold(view).isEmpty()
                ? wrongPassword()
                : fail(Exit::IoError,
                       QStringLiteral("%1: cannot protect what is marked; nothing was changed")
                               .arg(path()));
    const QStringList ungrouped = file.ungroupedKeys();
    if (tree.value(drovik::tree::encryptedFile()).toBool() && !ungrouped.isEmpty())
        note(QStringLiteral("%1: %2 stay in plain outside the file's protection")
                     .arg(path(), ungrouped.join(QStringLiteral(", "))));
    return file.commit(&error) ? Exit::Ok : fail(Exit::IoError, error);
}

bool isKeyPath(const QString &key)
{
    QString section;
    QString param;
    return Drovik::parseSectionParamByKey(key, section, param);
}

QString sectionOfKey(const QString &key)
{
    QString section;
    QString param;
    Drovik::parseSectionParamByKey(key, section, param);
    return section;
}
