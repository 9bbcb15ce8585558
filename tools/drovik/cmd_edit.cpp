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

#include <unistd.h>

namespace {

const QString preamble = QStringLiteral(
        "; Decrypted copy of %1, removed when the editor closes.\n"
        "; Change, add or delete keys and sections; each part keeps its protection.\n"
        "; Comments and order are not kept; change protection with drovik protect.\n"
        "; Keys outside any section are not shown here and stay as they are; keys\n"
        "; added here outside a section are ignored.\n\n");

QString summary(const QString &path, const EditChanges &changes)
{
    if (changes.isEmpty())
        return QStringLiteral("%1: no changes\n").arg(path);
    return QStringLiteral("%1: %2 value(s) set, %3 parameter(s) deleted\n")
            .arg(path)
            .arg(changes.values.size())
            .arg(changes.removedKeys.size());
}

// Applies the changes through the library, on the file as it is now.
bool apply(const Session &session, const EditChanges &changes)
{
    QSettings *settings = session.settings();
    const QByteArray &secret = session.secret();
    QStringList sections;
    const QStringList keys = keysToRemove(changes, session.view, &sections);
    bool done = sections.isEmpty() || Drovik::delSections(settings, sections, secret);
    done = done && (keys.isEmpty() || Drovik::delParams(settings, keys, secret));
    for (const auto &change : changes.values)
        done = done && Drovik::setValue(settings, change.first, change.second, secret);
    return done;
}

// Someone at a terminal can fix the text; a script cannot.
bool interactive()
{
    return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
}

} // namespace

int runEdit(Session &session, const CommandLine &)
{
    // Not locked while the editor runs: only the differences are applied
    // later, under the lock, to the file as it is then.
    int status = Exit::Ok;
    QString error;
    ConfigView before = session.view;
    // Keys outside any section are no part of the edit; every write keeps them.
    before.ungrouped.clear();
    session.file.close();

    PrivateCopy copy;
    const QByteArray text = iniText(before, preamble.arg(session.path()));
    if (!copy.create(QFileInfo(session.path()).fileName(), text, &error))
        return fail(Exit::IoError, error);
    EditChanges changes;
    for (;;) {
        QByteArray edited;
        if (!runEditor(copy.filePath(), &error))
            return fail(Exit::IoError, error);
        if (!copy.read(&edited))
            return fail(Exit::IoError,
                        QStringLiteral("cannot read back the edited text; nothing "
                                       "was changed"));
        if (edited == text)
            break;
        QSettings editedSettings(copy.filePath(), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        editedSettings.setIniCodec("UTF-8"); // Qt 6 reads INI text as UTF-8 anyway
#endif
        // QSettings parses a section when its keys are first read, so the
        // status counts only after every key was.
        const EditChanges found = editChanges(before, editedSettings);
        if (editedSettings.status() == QSettings::NoError) {
            changes = found;
            break;
        }
        const QString reason = QStringLiteral("the edited text is not valid INI (%1)")
                                       .arg(invalidIniReason(edited));
        if (!interactive())
            return fail(Exit::IoError, reason + QStringLiteral("; nothing was changed"));
        note(reason
             + QStringLiteral("; opening the editor again (leave it with an error "
                              "status, as :cq in vi, to give up)"));
    }
    for (const QString &key : changes.ignoredKeys)
        note(QStringLiteral("ignored '%1': a key needs a section and a name").arg(key));
    if (!changes.isEmpty()) {
        if ((status = session.open(Access::Change)))
            return status;
        const QStringList conflicts = conflictingKeys(changes, before, session.view);
        if (!conflicts.isEmpty())
            return fail(Exit::IoError,
                        QStringLiteral("%1: changed meanwhile by someone else: %2; nothing was "
                                       "changed")
                                .arg(session.path(), conflicts.join(QStringLiteral(", "))));
        if ((status = apply(session, changes) ? session.commit() : session.wrongPassword()))
            return status;
    }
    printOut(summary(session.path(), changes));
    return Exit::Ok;
}
