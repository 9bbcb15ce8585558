#include "commands.h"

#include "command_line.h"
#include "console.h"
#include "edit_changes.h"
#include "editor.h"
#include "ini_text.h"
#include "private_copy.h"
#include "session.h"

#include <drovik/drovik.h>

#include <QtCore/QFileInfo>
#include <QtCore/QSettings>

namespace {

const QString preamble = QStringLiteral(
        "; Decrypted copy of %1, removed when the editor closes.\n"
        "; Change, add or delete keys and sections; each part keeps its protection.\n"
        "; Comments and order are not kept; change protection with drovik protect.\n\n");

QString summary(const QString &path, const EditChanges &changes)
{
    if (changes.isEmpty())
        return QStringLiteral("%1: no changes\n").arg(path);
    return QStringLiteral("%1: %2 value(s) set, %3 parameter(s) and %4 section(s) deleted\n")
            .arg(path)
            .arg(changes.values.size())
            .arg(changes.removedKeys.size())
            .arg(changes.removedSections.size());
}

// Applies the changes through the library, on the file as it is now.
bool apply(const Session &session, const EditChanges &changes)
{
    QSettings *settings = session.settings();
    const QByteArray &secret = session.secret();
    bool done = changes.removedSections.isEmpty()
            || Drovik::delSections(settings, changes.removedSections, secret);
    done = done
            && (changes.removedKeys.isEmpty()
                || Drovik::delParams(settings, changes.removedKeys, secret));
    for (const auto &change : changes.values)
        done = done && Drovik::setValue(settings, change.first, change.second, secret);
    return done;
}

} // namespace

int runEdit(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("edit"),
                     QStringLiteral("Opens the decrypted configuration as INI text in $VISUAL or "
                                    "$EDITOR (else vi), then applies what changed: changed and "
                                    "new values are set, removed keys and sections deleted, and "
                                    "each part keeps its protection. The decrypted copy lives "
                                    "in a private temporary directory that is removed "
                                    "afterwards."),
                     CommandLine::Password);
    int status = Exit::Ok;
    if (!line.parse(arguments, 1, 1, &status))
        return status;
    Session session(line.positional().constFirst());
    QString error;
    // Not locked while the editor runs: only the differences are applied
    // later, under the lock, to the file as it is then.
    if (!session.file.check(Access::Change, &error))
        return fail(Exit::IoError, error);
    if ((status = session.open(Access::Read, line.passwordOptions())))
        return status;
    const ConfigView before = session.view;
    session.file.close();

    PrivateCopy copy;
    const QByteArray text = iniText(before, preamble.arg(session.path()));
    if (!copy.create(QFileInfo(session.path()).fileName(), text, &error)
        || !runEditor(copy.filePath(), &error))
        return fail(Exit::IoError, error);
    QByteArray edited;
    if (!copy.read(&edited))
        return fail(Exit::IoError,
                    QStringLiteral("cannot read back the edited text; nothing "
                                   "was changed"));
    EditChanges changes;
    if (edited != text) {
        QSettings editedSettings(copy.filePath(), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        editedSettings.setIniCodec("UTF-8"); // Qt 6 reads INI text as UTF-8 anyway
#endif
        if (editedSettings.status() != QSettings::NoError)
            return fail(Exit::IoError,
                        QStringLiteral("the edited text is not valid INI; nothing "
                                       "was changed"));
        changes = editChanges(before, editedSettings);
    }
    for (const QString &key : changes.ignoredKeys)
        note(QStringLiteral("ignored %1: it is outside any section").arg(key));
    if (!changes.isEmpty()) {
        if ((status = session.open(Access::Change, line.passwordOptions())))
            return status;
        if ((status = apply(session, changes) ? session.commit() : session.wrongPassword()))
            return status;
    }
    printOut(summary(session.path(), changes));
    return Exit::Ok;
}
