#include "ini_text.h"

#include "config_view.h"

#include <QtCore/QStringList>
#include <QtCore/QVariant>

namespace {

QString hex(uint code, int width)
{
    return QStringLiteral("%1").arg(code, width, 16, QLatin1Char('0'));
}

// Names keep letters, digits, '-', '_' and '.'; a '/' inside a parameter name
// becomes '\', anything else a %XX or %UXXXX escape, as QSettings expects.
QString escapedName(const QString &name)
{
    QString text;
    for (const QChar c : name) {
        const uint code = c.unicode();
        if (c == QLatin1Char('/'))
            text += QLatin1Char('\\');
        else if ((code < 0x80 && c.isLetterOrNumber()) || c == QLatin1Char('-')
                 || c == QLatin1Char('_') || c == QLatin1Char('.'))
            text += c;
        else if (code <= 0xff)
            text += QLatin1Char('%') + hex(code, 2).toUpper();
        else
            text += QStringLiteral("%U") + hex(code, 4).toUpper();
    }
    return text;
}

// One string: control characters, quotes and backslashes escaped, and the
// whole quoted when a separator or an outer space would change its meaning.
QString escapedString(const QString &value)
{
    static const QString named = QStringLiteral("\a\b\f\n\r\t\v\"\\");
    static const QString letters = QStringLiteral("abfnrtv\"\\");
    QString text;
    bool needsQuotes = false;
    bool afterHexEscape = false; // a hex escape swallows the hex digits after it
    for (const QChar c : value) {
        const uint code = c.unicode();
        needsQuotes = needsQuotes || c == QLatin1Char(';') || c == QLatin1Char(',')
                || c == QLatin1Char('=');
        const int index = named.indexOf(c);
        const bool isHexDigit = (code >= '0' && code <= '9') || (code >= 'a' && code <= 'f')
                || (code >= 'A' && code <= 'F');
        if (index >= 0) {
            text += QLatin1Char('\\') + letters.at(index);
            afterHexEscape = false;
        } else if (code < 0x20 || code == 0x7f || (afterHexEscape && isHexDigit)) {
            text += QStringLiteral("\\x") + hex(code, 1);
            afterHexEscape = true;
        } else {
            text += c;
            afterHexEscape = false;
        }
    }
    if (needsQuotes || text.startsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char(' ')))
        return QLatin1Char('"') + text + QLatin1Char('"');
    return text;
}

QString comment(const char *what, Protection protection)
{
    switch (protection) {
    case Protection::Plain:
        return QString();
    case Protection::Marked:
        return QStringLiteral("; %1 marked for protection (still stored in plain)\n")
                .arg(QLatin1String(what));
    case Protection::Protected:
        return QStringLiteral("; protected %1\n").arg(QLatin1String(what));
    }
    return QString();
}

} // namespace

QString iniValueText(const QVariant &value)
{
    // A one-item list reads back as its item, an empty one as an invalid value.
    if (value.userType() == QMetaType::QStringList || value.userType() == QMetaType::QVariantList) {
        QStringList items;
        for (const QVariant &item : value.toList())
            items.append(escapedString(item.toString()));
        return items.isEmpty() ? QStringLiteral("@Invalid()") : items.join(QStringLiteral(", "));
    }
    if (!value.isValid())
        return QStringLiteral("@Invalid()");
    if (value.userType() == QMetaType::QByteArray) {
        // Pointer and size: the QByteArray overload stops at a zero byte in Qt 5 only.
        const QByteArray bytes = value.toByteArray();
        return escapedString(QStringLiteral("@ByteArray(")
                             + QString::fromLatin1(bytes.constData(), bytes.size())
                             + QLatin1Char(')'));
    }
    QString text = value.toString();
    // A leading '@' would introduce a typed value; QSettings doubles it.
    if (text.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('@'));
    return escapedString(text);
}

namespace {

// What stands for a part whose content needs the password.
QString hiddenComment(const QString &what, const Hidden &hidden)
{
    return QStringLiteral("; %1 hidden without the password (stored data %2)\n")
            .arg(what, hidden.digest);
}

} // namespace

QByteArray iniText(const ConfigView &view, const QString &preamble)
{
    QString text = preamble;
    // Before the first section, where QSettings reads keys outside any section.
    for (const ParamView &param : view.ungrouped)
        text += escapedName(param.name) + QLatin1Char('=') + iniValueText(param.value)
                + QLatin1Char('\n');
    text += comment("file", view.protection);
    if (view.sectionsHidden.hidden)
        text += hiddenComment(QStringLiteral("sections"), view.sectionsHidden);
    for (const SectionView &section : view.sections) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += comment("section", section.protection);
        // A section called General would be taken for the keys outside any section.
        const bool general
                = section.name.compare(QLatin1String("general"), Qt::CaseInsensitive) == 0;
        text += QLatin1Char('[')
                + (general ? QLatin1Char('%') + section.name : escapedName(section.name))
                + QStringLiteral("]\n");
        if (section.paramsHidden.hidden)
            text += hiddenComment(QStringLiteral("parameters"), section.paramsHidden);
        for (const ParamView &param : section.params) {
            if (param.valueHidden.hidden) {
                text += comment("parameter", param.protection)
                        + hiddenComment(escapedName(param.name), param.valueHidden);
                continue;
            }
            text += comment("parameter", param.protection) + escapedName(param.name)
                    + QLatin1Char('=') + iniValueText(param.value) + QLatin1Char('\n');
        }
    }
    return text.toUtf8();
}
