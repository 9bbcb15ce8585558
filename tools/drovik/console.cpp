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

void note(const QString &message)
{
    const QByteArray line = QByteArrayLiteral("drovik: ") + message.toUtf8() + '\n';
    std::fflush(stdout); // keep the order of both streams on a terminal
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
}

int fail(int code, const QString &message)
{
    note(message);
    return code;
}
