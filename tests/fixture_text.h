#ifndef DROVIK_TESTS_FIXTURE_TEXT_H
#define DROVIK_TESTS_FIXTURE_TEXT_H

// Text fixtures under tests/data/: blocks opened by "== NAME ...", "#" lines
// for comments, blank lines ignored.

#include "testutil.h"

#include <QtCore/QVector>

namespace fixture {

struct Block
{
    QStringList header; // the words after "=="
    QStringList lines;
};

inline QVector<Block> blocks(const QString &name)
{
    const QString path = QStringLiteral(DROVIK_SOURCE_DIR "/tests/data/") + name;
    const QStringList lines = QString::fromUtf8(testutil::Files::bytes(path))
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVector<Block> found;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("== ")))
            found.append({line.mid(3).split(QLatin1Char(' ')), {}});
        else if (!line.startsWith(QLatin1Char('#')) && !found.isEmpty())
            found.last().lines.append(line);
    }
    if (found.isEmpty())
        qFatal("no blocks in %s", qPrintable(path));
    return found;
}

// A value with its type as a fixture states it: text quoted, a list as
// [item|item], a double to 17 digits so that both must match exactly.
inline QString describe(const QVariant &value)
{
    if (!value.isValid())
        return QStringLiteral("invalid");
    QString text = QLatin1String(value.typeName()) + QLatin1String(": ");
    if (value.userType() == QMetaType::Double)
        return text + QString::number(value.toDouble(), 'g', 17);
    if (value.userType() == QMetaType::QStringList)
        return text + u"["_s + value.toStringList().join(u"|"_s) + u"]"_s;
    if (value.userType() == QMetaType::QString)
        return text + u"\""_s + value.toString() + u"\""_s;
    return text + value.toString();
}

} // namespace fixture

#endif // DROVIK_TESTS_FIXTURE_TEXT_H
