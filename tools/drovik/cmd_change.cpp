#include "commands.h"

#include "command_line.h"
#include "console.h"
#include "session.h"
#include "typed_value.h"

#include <drovik/drovik.h>

// Changing commands lock FILE, load it, check every target before touching
// anything, make the change through the library and write the file once.

namespace {

// Key paths that are not SECTION/PARAMETER, as a usage error; Exit::Ok if none.
int checkKeyPaths(const QString &command, const QStringList &keys)
{
    for (const QString &key : keys) {
        if (!isKeyPath(key))
            return usageError(command, QStringLiteral("'%1' is not SECTION/PARAMETER").arg(key));
    }
    return Exit::Ok;
}

// Every named section or parameter must exist, or nothing is done.
int checkTargets(const Session &session, const QStringList &sections, const QStringList &keys)
{
    for (const QString &section : sections) {
        if (!session.view.section(section))
            return fail(Exit::NotFound,
                        QStringLiteral("%1: no section %2; nothing was changed")
                                .arg(session.path(), section));
    }
    for (const QString &key : keys) {
        if (!session.view.param(key))
            return fail(Exit::NotFound,
                        QStringLiteral("%1: no parameter %2; nothing was changed")
                                .arg(session.path(), key));
    }
    return Exit::Ok;
}

// The end of every change: a refusal means the password did not open the file.
// The load before the change proved it, so in practice only the first call
// of a command can refuse, and a refused call writes nothing.
int finish(Session *session, bool done)
{
    return done ? session->commit() : session->wrongPassword();
}

// The whole file's cipher text has no place for keys outside any section:
// protecting the file around them would leave them in plain, unasked.
int checkNoUngroupedKeys(const Session &session)
{
    const QStringList keys = session.file.ungroupedKeys();
    if (keys.isEmpty())
        return Exit::Ok;
    return fail(Exit::Usage,
                QStringLiteral("%1: %2 outside any section cannot be protected with the file; "
                               "nothing was changed. Move them into a section (drovik set, then "
                               "delete the old lines by hand) or protect sections instead")
                        .arg(session.path(), keys.join(QStringLiteral(", "))));
}

// Protection does not nest in storage: a section inside a protected file, or
// a parameter inside a protected section, has none of its own. Say so rather
// than let a change that stores nothing look done; outer parts that this run
// changes as well are left out.
void noteCovered(const ConfigView &view, const QString &target, const QString &section,
                 bool protect, bool fileTargeted, const QStringList &sectionTargets)
{
    const SectionView *node = section == target ? nullptr : view.section(section);
    QString outer;
    if (view.protection != Protection::Plain && !fileTargeted)
        outer = QStringLiteral("file");
    else if (node && node->protection != Protection::Plain && !sectionTargets.contains(section))
        outer = QStringLiteral("section");
    else
        return;
    note(protect ? QStringLiteral("%1 is already protected as part of its %2").arg(target, outer)
                 : QStringLiteral("%1 stays protected as part of its %2; unprotect the %2 to "
                                  "store it in plain")
                           .arg(target, outer));
}

int changeProtection(const QStringList &arguments, bool protect)
{
    const QString command = protect ? QStringLiteral("protect") : QStringLiteral("unprotect");
    CommandLine line(command,
                     QStringLiteral("%1 the whole file (--file), sections (--section S) or "
                                    "parameters (--key SECTION/PARAMETER); any number of each.")
                             .arg(protect ? QStringLiteral("Stores encrypted under the password")
                                          : QStringLiteral("Stores in plain text again")),
                     CommandLine::Password);
    const QCommandLineOption fileOption(QStringLiteral("file"), QStringLiteral("The whole file."));
    const QCommandLineOption sectionOption(QStringLiteral("section"), QStringLiteral("Section S."),
                                           QStringLiteral("S"));
    const QCommandLineOption keyOption(QStringLiteral("key"), QStringLiteral("Parameter K."),
                                       QStringLiteral("K"));
    for (const QCommandLineOption &option : {fileOption, sectionOption, keyOption})
        line.addOption(option);
    int status = Exit::Ok;
    if (!line.parse(arguments, 1, 1, &status))
        return status;
    const bool fileTargeted = line.isSet(fileOption);
    const QStringList sections = line.values(sectionOption);
    const QStringList keys = line.values(keyOption);
    if (!fileTargeted && sections.isEmpty() && keys.isEmpty())
        return usageError(command, QStringLiteral("give --file, --section or --key"));
    if ((status = checkKeyPaths(command, keys)))
        return status;

    Session session(line.positional().constFirst());
    if ((status = session.open(Access::Change, line.passwordOptions(),
                               protect ? PasswordNeed::Always : PasswordNeed::WhenProtected))
        || (status = checkTargets(session, sections, keys))
        || (protect && fileTargeted && (status = checkNoUngroupedKeys(session))))
        return status;
    for (const QString &section : sections)
        noteCovered(session.view, section, section, protect, fileTargeted, sections);
    for (const QString &key : keys)
        noteCovered(session.view, key, sectionOfKey(key), protect, fileTargeted, sections);

    QSettings *settings = session.settings();
    const QByteArray &secret = session.secret();
    bool done = true;
    if (fileTargeted)
        done = protect ? Drovik::encryptFile(settings, secret)
                       : Drovik::decryptFile(settings, secret);
    for (const QString &section : sections)
        done = done
                && (protect ? Drovik::encryptSection(settings, section, secret)
                            : Drovik::decryptSection(settings, section, secret));
    for (const QString &key : keys)
        done = done
                && (protect ? Drovik::encryptParam(settings, key, secret)
                            : Drovik::decryptParam(settings, key, secret));
    return finish(&session, done);
}

// del and del-section: names are key paths or section names.
int deleteParts(const QStringList &arguments, bool sections)
{
    const QString command = sections ? QStringLiteral("del-section") : QStringLiteral("del");
    CommandLine line(command,
                     QStringLiteral("Deletes %1. Every one named must exist; otherwise nothing is "
                                    "deleted and the exit status is 1.")
                             .arg(sections ? QStringLiteral("whole sections with their parameters")
                                           : QStringLiteral("parameters")),
                     CommandLine::Password);
    const QString name = sections ? QStringLiteral("SECTION") : QStringLiteral("KEY");
    line.addPositional(name,
                       sections ? QStringLiteral("A section name.")
                                : QStringLiteral("SECTION/PARAMETER"),
                       name + QStringLiteral("..."));
    int status = Exit::Ok;
    if (!line.parse(arguments, 2, -1, &status))
        return status;
    const QStringList names = line.positional().mid(1);
    if (!sections && (status = checkKeyPaths(command, names)))
        return status;
    Session session(line.positional().constFirst());
    if ((status = session.open(Access::Change, line.passwordOptions()))
        || (status = checkTargets(session, sections ? names : QStringList(),
                                  sections ? QStringList() : names)))
        return status;
    return finish(&session,
                  sections ? Drovik::delSections(session.settings(), names, session.secret())
                           : Drovik::delParams(session.settings(), names, session.secret()));
}

} // namespace

int runSet(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("set"),
                     QStringLiteral("Stores VALUE at KEY. Where the file, the section or the "
                                    "parameter is protected (or marked), the value is stored "
                                    "inside that protection. A missing FILE is created.\n"
                                    "With --type list every VALUE is one item. A VALUE that "
                                    "starts with '-' follows '--'."),
                     CommandLine::Password);
    line.addPositional(QStringLiteral("KEY"), QStringLiteral("SECTION/PARAMETER"));
    line.addPositional(QStringLiteral("VALUE"), QStringLiteral("The value."),
                       QStringLiteral("VALUE..."));
    const QCommandLineOption typeOption(
            QStringLiteral("type"),
            QStringLiteral("Store the value as TYPE: %1 (default string). Typed values keep "
                           "their kind inside protected parts; plain INI text holds text only.")
                    .arg(valueTypeNames().join(QStringLiteral(", "))),
            QStringLiteral("TYPE"), QStringLiteral("string"));
    line.addOption(typeOption);
    int status = Exit::Ok;
    if (!line.parse(arguments, 2, -1, &status))
        return status;
    const QString key = line.positional().at(1);
    if ((status = checkKeyPaths(QStringLiteral("set"), {key})))
        return status;
    QVariant value;
    QString error;
    if (!parseTypedValue(line.value(typeOption), line.positional().mid(2), &value, &error))
        return usageError(QStringLiteral("set"), error);
    Session session(line.positional().constFirst());
    if ((status = session.open(Access::Create, line.passwordOptions())))
        return status;
    return finish(&session, Drovik::setValue(session.settings(), key, value, session.secret()));
}

int runDel(const QStringList &arguments)
{
    return deleteParts(arguments, false);
}

int runDelSection(const QStringList &arguments)
{
    return deleteParts(arguments, true);
}

int runProtect(const QStringList &arguments)
{
    return changeProtection(arguments, true);
}

int runUnprotect(const QStringList &arguments)
{
    return changeProtection(arguments, false);
}

int runPasswd(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("passwd"),
                     QStringLiteral("Changes the password: asks for the current one, then twice "
                                    "for the new one. Without a terminal the new password comes "
                                    "from --new-password-file or DROVIK_NEW_PASSWORD."),
                     CommandLine::Password);
    const QCommandLineOption newFileOption(QStringLiteral("new-password-file"),
                                           QStringLiteral("Read the new password from PATH."),
                                           QStringLiteral("PATH"));
    line.addOption(newFileOption);
    int status = Exit::Ok;
    if (!line.parse(arguments, 1, 1, &status))
        return status;
    Session session(line.positional().constFirst());
    if ((status = session.open(Access::Change, line.passwordOptions())))
        return status;
    Secret newPassword;
    QString error;
    if (!readNewPassword(line.value(newFileOption),
                         QStringLiteral("New password for %1: ").arg(session.path()), &newPassword,
                         &error))
        return fail(Exit::Usage, error);
    if (!session.password.isGiven())
        note(QStringLiteral("%1 holds nothing protected yet; the new password applies to what "
                            "is protected from now on")
                     .arg(session.path()));
    if (!Drovik::changePassword(session.settings(), session.secret(), newPassword.bytes()))
        return session.wrongPassword();
    return session.commit(newPassword.bytes());
}

int runRegen(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("regen"),
                     QStringLiteral("Encrypts every protected part anew under fresh public keys, "
                                    "and stores protected whatever is marked by hand."),
                     CommandLine::Password);
    int status = Exit::Ok;
    if (!line.parse(arguments, 1, 1, &status))
        return status;
    Session session(line.positional().constFirst());
    if ((status = session.open(Access::Change, line.passwordOptions())))
        return status;
    return finish(&session, Drovik::regen(session.settings(), session.secret()));
}
