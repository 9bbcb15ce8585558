#include "commands.h"

#include "command_line.h"
#include "console.h"
#include "typed_value.h"

namespace {

QCommandLineOption option(const QString &name, const QString &help,
                          const QString &valueName = QString(),
                          const QString &defaultValue = QString())
{
    return QCommandLineOption(name, help, valueName, defaultValue);
}

const Argument keyArgument {QStringLiteral("KEY"), QStringLiteral("SECTION/PARAMETER")};

QList<QCommandLineOption> protectionTargets()
{
    return {option(QStringLiteral("file"), QStringLiteral("The whole file.")),
            option(QStringLiteral("section"), QStringLiteral("Section S."), QStringLiteral("S")),
            option(QStringLiteral("key"), QStringLiteral("Parameter K (SECTION/PARAMETER)."),
                   QStringLiteral("K"))};
}

QList<Command> makeTable()
{
    const QString targets = QStringLiteral(
            " the whole file (--file), sections (--section S) or parameters (--key "
            "SECTION/PARAMETER); any number of each.");
    return {
            {QStringLiteral("get"),
             QStringLiteral("print one value"),
             QStringLiteral("Prints the value at KEY, decrypted; a list one item per line. Exits "
                            "with 1 when KEY holds no value and no --default is given (--json "
                            "then prints \"found\": false). Never writes FILE."),
             {keyArgument},
             {option(QStringLiteral("default"), QStringLiteral("Print V when KEY holds no value."),
                     QStringLiteral("V"))},
             Access::Read,
             PasswordNeed::WhenProtected,
             true,
             checkKeyArgument,
             runGet},
            {QStringLiteral("set"),
             QStringLiteral("store a value, keeping the protection of its place"),
             QStringLiteral("Stores VALUE at KEY. Where the file, the section or the parameter is "
                            "protected (or marked), the value is stored inside that protection. A "
                            "missing FILE is created.\nWith --type list every VALUE is one item. A "
                            "VALUE that starts with '-' follows '--'."),
             {keyArgument,
              {QStringLiteral("VALUE"), QStringLiteral("The value."), Argument::OneOrMore}},
             {option(QStringLiteral("type"),
                     QStringLiteral("Store the value as TYPE: %1 (default string). Typed values "
                                    "keep their kind inside protected parts; plain INI text holds "
                                    "text only.")
                             .arg(valueTypeNames().join(QStringLiteral(", "))),
                     QStringLiteral("TYPE"), QStringLiteral("string"))},
             Access::Create,
             PasswordNeed::WhenProtected,
             false,
             checkSet,
             runSet},
            {QStringLiteral("del"),
             QStringLiteral("delete parameters"),
             QStringLiteral("Deletes parameters. Every one named must exist; otherwise nothing is "
                            "deleted and the exit status is 1."),
             {{QStringLiteral("KEY"), QStringLiteral("SECTION/PARAMETER"), Argument::OneOrMore}},
             {},
             Access::Change,
             PasswordNeed::WhenProtected,
             false,
             checkDel,
             runDel},
            {QStringLiteral("del-section"),
             QStringLiteral("delete sections"),
             QStringLiteral("Deletes whole sections with their parameters. Every one named must "
                            "exist; otherwise nothing is deleted and the exit status is 1."),
             {{QStringLiteral("SECTION"), QStringLiteral("A section name."), Argument::OneOrMore}},
             {},
             Access::Change,
             PasswordNeed::WhenProtected,
             false,
             nullptr,
             runDelSection},
            {QStringLiteral("list"),
             QStringLiteral("list the sections, or the parameters of one section"),
             QStringLiteral("Lists the sections of FILE, or the parameters of SECTION, in the "
                            "order QSettings gives them (sorted). Never writes FILE."),
             {{QStringLiteral("SECTION"), QStringLiteral("A section name."), Argument::Optional}},
             {},
             Access::Read,
             PasswordNeed::WhenProtected,
             true,
             nullptr,
             runList},
            {QStringLiteral("keys"),
             QStringLiteral("list every parameter as SECTION/PARAMETER"),
             QStringLiteral("Lists every parameter of FILE as a key path SECTION/PARAMETER, in the "
                            "order QSettings gives them (sorted); keys outside any section come "
                            "first, by their bare names. Never writes FILE."),
             {},
             {},
             Access::Read,
             PasswordNeed::WhenProtected,
             true,
             nullptr,
             runKeys},
            {QStringLiteral("status"),
             QStringLiteral("show what is protected, marked or plain"),
             QStringLiteral("Shows FILE as a tree of sections and parameters, each with its "
                            "protection: protected (stored encrypted), marked (asked for by hand, "
                            "still stored in plain) or plain. Never asks for a password: without "
                            "one, the names inside protected parts show as hidden. Colour only on "
                            "a terminal and without NO_COLOR. Never writes FILE, not even to "
                            "protect what is marked."),
             {},
             {},
             Access::Read,
             PasswordNeed::IfGiven,
             true,
             nullptr,
             runStatus},
            {QStringLiteral("show"),
             QStringLiteral("print the decrypted configuration as INI text"),
             QStringLiteral("Prints the whole configuration, decrypted, as INI text; a comment "
                            "line before each protected or marked part says so. The password is "
                            "asked on the terminal only when the output goes there too; without a "
                            "password the protected parts show as comments with a digest of their "
                            "stored data (so `git diff` sees that they changed), except with "
                            "--json, which needs the password. Never writes FILE."),
             {},
             {},
             Access::Read,
             PasswordNeed::IfInteractive,
             true,
             nullptr,
             runShow},
            {QStringLiteral("edit"),
             QStringLiteral("edit the decrypted configuration in a text editor"),
             QStringLiteral("Opens the decrypted configuration as INI text in $VISUAL or $EDITOR "
                            "(else vi), then applies what changed: changed and new values are "
                            "set, removed keys and sections deleted, and each part keeps its "
                            "protection. Only the changes are applied, to the file as it is "
                            "then: a key also changed by someone else meanwhile is a conflict, "
                            "and nothing is changed. The decrypted copy lives in a private "
                            "temporary directory that is removed afterwards."),
             {},
             {},
             Access::ChangeLater,
             PasswordNeed::WhenProtected,
             false,
             nullptr,
             runEdit},
            {QStringLiteral("protect"),
             QStringLiteral("protect the file, sections or parameters"),
             QStringLiteral("Stores encrypted under the password") + targets,
             {},
             protectionTargets(),
             Access::Change,
             PasswordNeed::Always,
             false,
             checkProtection,
             runProtect},
            {QStringLiteral("unprotect"),
             QStringLiteral("store the file, sections or parameters in plain again"),
             QStringLiteral("Stores in plain text again") + targets,
             {},
             protectionTargets(),
             Access::Change,
             PasswordNeed::WhenProtected,
             false,
             checkProtection,
             runUnprotect},
            {QStringLiteral("passwd"),
             QStringLiteral("change the password"),
             QStringLiteral("Changes the password: asks for the current one, then twice for the "
                            "new one. The new password comes from the first of: "
                            "--new-password-file PATH ('-' reads standard input), "
                            "--new-password-command CMD, DROVIK_NEW_PASSWORD, "
                            "DROVIK_NEW_PASSWORD_COMMAND, the terminal. Only one of the two "
                            "passwords can come from standard input."),
             {},
             {option(QStringLiteral("new-password-file"),
                     QStringLiteral("Read the new password from PATH ('-': standard input)."),
                     QStringLiteral("PATH")),
              option(QStringLiteral("new-password-command"),
                     QStringLiteral("Run CMD and take the first line it prints as the new "
                                    "password."),
                     QStringLiteral("CMD"))},
             Access::Change,
             PasswordNeed::WhenProtected,
             false,
             checkPasswd,
             runPasswd},
            {QStringLiteral("regen"),
             QStringLiteral("encrypt every protected part anew under fresh public keys"),
             QStringLiteral("Encrypts every protected part anew under fresh public keys, and "
                            "stores protected whatever is marked by hand."),
             {},
             {},
             Access::Change,
             PasswordNeed::WhenProtected,
             false,
             nullptr,
             runRegen},
            {QStringLiteral("exec"),
             QStringLiteral("run a program with parameters in its environment"),
             QStringLiteral(
                     "Runs COMMAND (no shell) with the parameters of the named sections (all when "
                     "none is named) added to its environment as SECTION_PARAMETER: upper case, "
                     "every character other than A-Z, 0-9 and _ turned into _. A list's items are "
                     "joined with ','. Keys outside any section are not passed, and no name may "
                     "begin with LD_ or DROVIK_ (use --prefix). No DROVIK_ variable reaches "
                     "COMMAND. The tool becomes COMMAND: the exit status is COMMAND's (127: not "
                     "found, 126: cannot run it). The password is needed only when the named "
                     "sections hold something protected. Never writes FILE."),
             {{QStringLiteral("SECTION..."), QStringLiteral("A section to pass."),
               Argument::Optional},
              {QStringLiteral("-- COMMAND"), QStringLiteral("The program and its arguments."),
               Argument::OneOrMore}},
             {option(QStringLiteral("prefix"),
                     QStringLiteral("Put P before every name (letters, digits and _)."),
                     QStringLiteral("P"))},
             Access::Read,
             PasswordNeed::IfGiven,
             false,
             checkExec,
             runExec},
            {QStringLiteral("apply"),
             QStringLiteral("apply the changes of a JSON document in one rewrite"),
             QStringLiteral(
                     "Applies the changes of a JSON document to FILE in one locked rewrite: all "
                     "of them or none. The document has the shape 'drovik show --json' prints; "
                     "every member is optional, and what it does not name is kept. A value sets "
                     "its parameter, with the kind its JSON has or its \"type\" (string, int, "
                     "double, bool, list); a value of null deletes the parameter; \"delete\": "
                     "[\"SECTION\", \"SECTION/PARAMETER\", ...] deletes sections and parameters "
                     "(those not there are no error), before anything is set. A part that exists "
                     "keeps its protection; a new one takes the \"protection\" the document "
                     "gives it, plain when none. A missing FILE is created. An invalid document "
                     "changes nothing: exit status 2 and the JSON path of the fault."),
             {{QStringLiteral("INPUT"),
               QStringLiteral("The JSON document; '-' or none: standard input."),
               Argument::Optional}},
             {},
             Access::Create,
             PasswordNeed::WhenProtected,
             false,
             checkApply,
             runApply},
    };
}

} // namespace

const QList<Command> &commandTable()
{
    static const QList<Command> table = makeTable();
    return table;
}

const Command *findCommand(const QString &name)
{
    for (const Command &command : commandTable()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

int runCommand(const Command &command, const QStringList &arguments)
{
    CommandLine line(command);
    int status = Exit::Ok;
    if (!line.parse(arguments, &status))
        return status;
    if (command.check && (status = command.check(line)))
        return status;
    Session session(line.file(), line.passwordOptions());
    if ((status = session.open(command.access, command.password)))
        return status;
    return command.run(session, line);
}
