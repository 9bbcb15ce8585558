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

// protect and unprotect: the targets and the library's call for each level.
struct ProtectionChange
{
    bool protect;
    bool (*file)(QSettings *, const QByteArray &);
    bool (*section)(QSettings *, const QString &, const QByteArray &);
    bool (*param)(QSettings *, const QString &, const QByteArray &);
};

int changeProtection(Session &session, const CommandLine &line, const ProtectionChange &change)
{
    bool fileTargeted = line.isSet(QStringLiteral("file"));
    const QStringList sections = line.values(QStringLiteral("section"));
    const QStringList keys = line.values(QStringLiteral("key"));
    int status = Exit::Ok;
    if ((status = checkTargets(session, sections, keys)))
        return status;
    if (fileTargeted && change.protect && session.view.protection == Protection::Protected) {
        note(QStringLiteral("%1 is already protected as a whole").arg(session.path()));
        if (sections.isEmpty() && keys.isEmpty())
            return Exit::Ok;
        fileTargeted = false;
    } else if (change.protect && fileTargeted && (status = checkNoUngroupedKeys(session))) {
        return status;
    }
    for (const QString &section : sections)
        noteCovered(session.view, section, section, change.protect, fileTargeted, sections);
    for (const QString &key : keys)
        noteCovered(session.view, key, sectionOfKey(key), change.protect, fileTargeted, sections);

    QSettings *settings = session.settings();
    const QByteArray &secret = session.secret();
    bool done = !fileTargeted || change.file(settings, secret);
    for (const QString &section : sections)
        done = done && change.section(settings, section, secret);
    for (const QString &key : keys)
        done = done && change.param(settings, key, secret);
    return finish(&session, done);
}

} // namespace

int checkSet(const CommandLine &line)
{
    int status = checkKeyArgument(line);
    QVariant value;
    QString error;
    if (!status
        && !parseTypedValue(line.value(QStringLiteral("type")), line.arguments().mid(1), &value,
                            &error))
        status = usageError(line.command(), error);
    return status;
}

int runSet(Session &session, const CommandLine &line)
{
    QVariant value;
    QString error;
    parseTypedValue(line.value(QStringLiteral("type")), line.arguments().mid(1), &value, &error);
    return finish(&session,
                  Drovik::setValue(session.settings(), line.arguments().constFirst(), value,
                                   session.secret()));
}

int checkDel(const CommandLine &line)
{
    return checkKeyPaths(line.command(), line.arguments());
}

int runDel(Session &session, const CommandLine &line)
{
    const QStringList keys = line.arguments();
    if (const int status = checkTargets(session, {}, keys))
        return status;
    return finish(&session, Drovik::delParams(session.settings(), keys, session.secret()));
}

int runDelSection(Session &session, const CommandLine &line)
{
    const QStringList sections = line.arguments();
    if (const int status = checkTargets(session, sections, {}))
        return status;
    return finish(&session, Drovik::delSections(session.settings(), sections, session.secret()));
}

int checkProtection(const CommandLine &line)
{
    if (!line.isSet(QStringLiteral("file")) && !line.isSet(QStringLiteral("section"))
        && !line.isSet(QStringLiteral("key")))
        return usageError(line.command(), QStringLiteral("give --file, --section or --key"));
    return checkKeyPaths(line.command(), line.values(QStringLiteral("key")));
}

int runProtect(Session &session, const CommandLine &line)
{
    return changeProtection(
            session, line,
            {true, Drovik::encryptFile, Drovik::encryptSection, Drovik::encryptParam});
}

int runUnprotect(Session &session, const CommandLine &line)
{
    return changeProtection(
            session, line,
            {false, Drovik::decryptFile, Drovik::decryptSection, Drovik::decryptParam});
}

namespace {

PasswordOptions newPasswordOptions(const CommandLine &line)
{
    PasswordOptions options;
    options.file = line.value(QStringLiteral("new-password-file"));
    options.command = line.value(QStringLiteral("new-password-command"));
    return options;
}

} // namespace

int checkPasswd(const CommandLine &line)
{
    const PasswordOptions options = newPasswordOptions(line);
    if (!options.file.isEmpty() && !options.command.isEmpty())
        return usageError(line.command(),
                          QStringLiteral("--new-password-file and --new-password-command "
                                         "exclude each other"));
    if (options.file == QLatin1String("-") && line.passwordOptions().file == QLatin1String("-"))
        return usageError(line.command(),
                          QStringLiteral("only one of the passwords can come from standard input"));
    return Exit::Ok;
}

int runPasswd(Session &session, const CommandLine &line)
{
    const PasswordOptions options = newPasswordOptions(line);
    Secret newPassword;
    QString error;
    if (!readNewPassword(options, QStringLiteral("New password for %1: ").arg(session.path()),
                         &newPassword, &error))
        return fail(Exit::Usage, error);
    if (!session.password.isGiven())
        note(QStringLiteral("%1 holds nothing protected yet; the new password applies to what "
                            "is protected from now on")
                     .arg(session.path()));
    if (!Drovik::changePassword(session.settings(), session.secret(), newPassword.bytes()))
        return session.wrongPassword();
    return session.commit(newPassword.bytes());
}

int runRegen(Session &session, const CommandLine &)
{
    return finish(&session, Drovik::regen(session.settings(), session.secret()));
}
