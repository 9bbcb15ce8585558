#ifndef DROVIK_TESTS_TOOL_RUNNER_H
#define DROVIK_TESTS_TOOL_RUNNER_H

#include "testutil.h"

#include <QtCore/QFileInfo>
#include <QtCore/QMap>
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
#include <QtCore/QStringList>

// A file of tests/data/tool: small INI files and their protected forms,
// written once, under this password.
inline const QByteArray toolPassword = QByteArrayLiteral("right-pw");

inline QString toolFixture(const QString &name)
{
    return QStringLiteral(DROVIK_SOURCE_DIR "/tests/data/tool/%1.ini").arg(name);
}

// One run of a program, as the tool tests see it.
struct ToolRun
{
    int code = -1; // -1: killed by a signal, or still running after a minute
    QByteArray out;
    QByteArray err;
    QString report; // for failure messages
};

// The environment the tool runs in: ours without any DROVIK_ variable or
// editor, the tool's directory first on PATH, plus extra.
inline QProcessEnvironment toolEnvironment(const QMap<QString, QString> &extra)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QRegularExpression ours(QStringLiteral("^(DROVIK_.*|VISUAL|EDITOR)$"));
    for (const QString &name : environment.keys().filter(ours))
        environment.remove(name);
    environment.insert(QStringLiteral("PATH"),
                       QFileInfo(QStringLiteral(DROVIK_TOOL_PATH)).absolutePath() + QLatin1Char(':')
                               + environment.value(QStringLiteral("PATH")));
    for (auto it = extra.cbegin(); it != extra.cend(); ++it)
        environment.insert(it.key(), it.value());
    return environment;
}

// Runs program without a terminal, input (unless null) on its standard input.
inline ToolRun runProgram(const QString &program, const QStringList &arguments,
                          const QMap<QString, QString> &extra = {},
                          const QByteArray &input = QByteArray())
{
    QProcess process;
    process.setProcessEnvironment(toolEnvironment(extra));
    if (input.isNull())
        process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    ToolRun run;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        run.code = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.report = QStringLiteral("%1 %2 -> %3\n%4%5")
                         .arg(program, arguments.join(QLatin1Char(' ')))
                         .arg(run.code)
                         .arg(QString::fromUtf8(run.out), QString::fromUtf8(run.err));
    return run;
}

// Runs the tool through a shell that first lifts the core size limit, so that
// a limit found later is the tool's own doing.
inline ToolRun runTool(const QStringList &arguments, const QMap<QString, QString> &extra = {},
                       const QByteArray &input = QByteArray())
{
    const QStringList shell {QStringLiteral("-c"),
                             QStringLiteral("ulimit -c unlimited 2>/dev/null; exec \"$0\" \"$@\""),
                             QStringLiteral(DROVIK_TOOL_PATH)};
    return runProgram(QStringLiteral("/bin/sh"), shell + arguments, extra, input);
}

// Words split at separator, each word F replaced by file.
inline QStringList wordsFor(const QString &words, const QString &file,
                            QChar separator = QLatin1Char(' '))
{
    QStringList arguments = words.split(separator, Qt::SkipEmptyParts);
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^F$")), file);
    return arguments;
}

// The tool on words (see wordsFor) with password, unless null, in DROVIK_PASSWORD.
inline ToolRun runToolOn(const QString &words, const QString &file,
                         const QByteArray &password = toolPassword,
                         QMap<QString, QString> extra = {}, const QByteArray &input = QByteArray())
{
    if (!password.isNull())
        extra.insert(QStringLiteral("DROVIK_PASSWORD"), QString::fromLatin1(password));
    return runTool(wordsFor(words, file), extra, input);
}

// Every value the library loads from a copy of path, by key path; stored
// switch and data keys left out. Empty when the password does not open it.
inline QVariantMap loadedValues(testutil::Files &files, const QString &path,
                                const QByteArray &password, bool *opened = nullptr)
{
    QSettings fresh(files.copy(path), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // As a Qt 6 program reads it: raw text as UTF-8.
    fresh.setIniCodec("UTF-8");
#endif
    QVariantMap tree, values;
    const bool loaded = Drovik::getFileData(&fresh, password, &tree);
    if (opened)
        *opened = loaded;
    const QVariantMap sections = tree.value(QStringLiteral("sections")).toMap();
    for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
        if (section.key() == QLatin1String("packed-file"))
            continue;
        const QVariantMap params = section.value().toMap().value(QStringLiteral("params")).toMap();
        for (auto param = params.cbegin(); param != params.cend(); ++param) {
            const QVariant value = param.value().toMap().value(QStringLiteral("value"));
            if (value.isValid() && !param.key().startsWith(QLatin1String("packed-")))
                values.insert(section.key() + QLatin1Char('/') + param.key(), value);
        }
    }
    return values;
}

// loadedValues as "key=value" words in key order; a value that is not text
// as "key=type:value", a list's items joined by '|'.
inline QStringList loadedText(testutil::Files &files, const QString &path,
                              const QByteArray &password)
{
    QStringList words;
    const QVariantMap values = loadedValues(files, path, password);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QVariant &value = it.value();
        QString word = it.key() + QLatin1Char('=');
        if (value.userType() != QMetaType::QString)
            word += QLatin1String(value.typeName()) + QLatin1Char(':');
        words << word
                        + (value.userType() == QMetaType::QStringList
                                   ? value.toStringList().join(QLatin1Char('|'))
                                   : value.toString());
    }
    return words;
}

#endif // DROVIK_TESTS_TOOL_RUNNER_H
