#ifndef DROVIK_TESTS_TOOL_RUNNER_H
#define DROVIK_TESTS_TOOL_RUNNER_H

#include <QtCore/QMap>
#include <QtCore/QProcess>
#include <QtCore/QStringList>

// One run of the drovik tool, as the tool tests see it.
struct ToolRun
{
    int code = -1; // -1: killed by a signal, or still running after a minute
    QByteArray out;
    QByteArray err;
    QString report; // for failure messages
};

// The environment the tool runs in: ours without any DROVIK_ variable or
// editor, plus extra.
inline QProcessEnvironment toolEnvironment(const QMap<QString, QString> &extra)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        if (name.startsWith(QLatin1String("DROVIK_")) || name == QLatin1String("VISUAL")
            || name == QLatin1String("EDITOR"))
            environment.remove(name);
    }
    for (auto it = extra.cbegin(); it != extra.cend(); ++it)
        environment.insert(it.key(), it.value());
    return environment;
}

// Runs the tool without a terminal, input on its standard input, through a
// shell that first lifts the core size limit, so that a limit found later is
// the tool's own doing.
inline ToolRun runTool(const QStringList &arguments, const QMap<QString, QString> &extra = {},
                       const QByteArray &input = QByteArray())
{
    QProcess process;
    process.setProcessEnvironment(toolEnvironment(extra));
    if (input.isNull())
        process.setStandardInputFile(QProcess::nullDevice());
    process.start(
            QStringLiteral("/bin/sh"),
            QStringList {QStringLiteral("-c"),
                         QStringLiteral("ulimit -c unlimited 2>/dev/null; exec \"$0\" \"$@\""),
                         QStringLiteral(DROVIK_TOOL_PATH)}
                    + arguments);
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    ToolRun run;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        run.code = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.report = QStringLiteral("drovik %1 -> %2\n%3%4")
                         .arg(arguments.join(QLatin1Char(' ')))
                         .arg(run.code)
                         .arg(QString::fromUtf8(run.out), QString::fromUtf8(run.err));
    return run;
}

#endif // DROVIK_TESTS_TOOL_RUNNER_H
