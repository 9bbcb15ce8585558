#include "session.h"

#include "console.h"

#include <drovik/drovik.h>

#include <QtCore/QSettings>

namespace {

bool holdsProtectedPart(const ConfigView &view)
{
    for (const SectionView &section : view.sections) {
        for (const ParamView &param : section.params) {
            if (param.protection == Protection::Protected)
                return true;
        }
        if (section.protection == Protection::Protected)
            return true;
    }
    return view.protection == Protection::Protected;
}

} // namespace

int Session::open(Access access, const PasswordOptions &options, PasswordNeed need)
{
    QString error;
    file.close();
    view = ConfigView();
    if (!file.open(access, &error))
        return fail(Exit::IoError, error);
    const QSettings &stored = *file.settings();
    const bool asked
            = !password.isGiven() && (need == PasswordNeed::Always || holdsProtection(stored));
    if (asked
        && !readPassword(options, QStringLiteral("Password for %1: ").arg(path()), &password,
                         &error))
        return fail(Exit::Usage, error);
    if (!loadView(stored, password.bytes(), &view))
        return wrongPassword();
    // Nothing protected can check a password that is about to protect: a typo
    // would lock the file for good, so a typed one is asked twice.
    if (asked && access != Access::Read && !holdsProtectedPart(view)
        && !confirmPassword(password, &error))
        return fail(Exit::Usage, error);
    return Exit::Ok;
}

int Session::wrongPassword() const
{
    return fail(Exit::WrongPassword,
                QStringLiteral("%1: wrong password; nothing was changed").arg(path()));
}

int Session::commit()
{
    QString error;
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
