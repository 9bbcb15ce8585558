#include "ini_lines.h"

namespace {

QString printable(const QByteArray &line)
{
    QString text;
    for (const char byte : line.left(60)) {
        const auto code = static_cast<unsigned char>(byte);
        text += code >= 0x20 && code < 0x7f
                ? QString(QLatin1Char(byte))
                : QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
    }
    return line.size() > 60 ? text + QStringLiteral("...") : text;
}

} // namespace

QStringList unreadableLines(const QByteArray &text)
{
    QStringList found;
    // QSettings skips a UTF-8 byte order mark before the first line.
    const QByteArray bom("\xef\xbb\xbf");
    const QList<QByteArray> lines
            = (text.startsWith(bom) ? text.mid(bom.size()) : text).split('\n');
    bool continued = false;
    for (int index = 0; index < lines.size(); ++index) {
        QByteArray line = lines.at(index);
        if (line.endsWith('\r'))
            line.chop(1);
        const bool continuation = continued;
        // A backslash at the end joins the next line to this one's value.
        continued = line.endsWith('\\');
        const QByteArray trimmed = line.trimmed();
        if (continuation || trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#')
            || trimmed.startsWith('[') || trimmed.contains('='))
            continue;
        found.append(QStringLiteral("line %1: %2").arg(index + 1).arg(printable(line)));
    }
    return found;
}
