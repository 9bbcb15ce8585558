#include "console.h"

#include <QtCore/QByteArray>

#include <cstdio>

void printOut(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
}

void printOut(const QString &text)
{
    printOut(text.toUtf8());
}

namespace {

bool quietNotes = false;

void printError(const QString &message)
{
    const QByteArray line = QByteArrayLiteral("drovik: ") + message.toUtf8() + '\n';
    std::fflush(stdout); // keep the order of both streams on a terminal
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
}

} // namespace

void setQuiet(bool quiet)
{
    quietNotes = quiet;
}

void note(const QString &message)
{
    if (!quietNotes)
        printError(message);
}

int fail(int code, const QString &message)
{
    printError(message);
    return code;
}
