#ifndef DROVIK_TESTS_TESTUTIL_H
#define DROVIK_TESTS_TESTUTIL_H

#include <drovik/drovik.h>

#include <QtCore/QFile>
#include <QtCore/QSettings>
#include <QtCore/QStringList>
#include <QtCore/QTemporaryDir>
#include <QtCore/QVariant>
#include <QtCore/QVector>

#include <cstddef>

// u"text"_s: a QString from a UTF-16 literal, short enough to keep a table row on one line.
inline QString operator""_s(const char16_t *text, std::size_t size)
{
    return QString(reinterpret_cast<const QChar *>(text), int(size));
}

namespace testutil {

// Files of one test run, each under a name the process has never opened:
// QSettings caches every file it has parsed for the life of the process.
class Files
{
public:
    bool isValid() const { return m_dir.isValid(); }

    QString newPath() { return m_dir.filePath(QStringLiteral("f%1.ini").arg(++m_count)); }

    // A new file holding exactly these bytes.
    QString write(const QByteArray &bytes)
    {
        const QString path = newPath();
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // A copy under a new name; an absent file copies as an empty one.
    QString copy(const QString &path) { return write(bytes(path)); }

    static QByteArray bytes(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Every stored key and its value as the file holds them on disk.
    QVariantMap storedKeys(const QString &path)
    {
        const QSettings fresh(copy(path), QSettings::IniFormat);
        QVariantMap keys;
        const QStringList names = fresh.allKeys();
        for (const QString &key : names)
            keys.insert(key, fresh.value(key));
        return keys;
    }

    // The library's read-only answer for key on the file as it is on disk.
    QVariant valueOnDisk(const QString &path, const QString &key, const QByteArray &password)
    {
        const QSettings fresh(copy(path), QSettings::IniFormat);
        return Drovik::value(&fresh, key, QVariant(), password);
    }

    // A new file holding tree as the saver writes it.
    QString save(const QVariantMap &tree, const QByteArray &password)
    {
        const QString path = newPath();
        QSettings settings(path, QSettings::IniFormat);
        Drovik::saveFile(&settings, password, &tree);
        return path; // written when settings goes out of scope
    }

private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

#ifdef DROVIK_SOURCE_DIR // not in programs built outside CMake
// A file under tests/data.
inline QByteArray dataFile(const QString &name)
{
    return Files::bytes(QStringLiteral(DROVIK_SOURCE_DIR "/tests/data/") + name);
}

// The rows of a table under tests/data: cells are separated by spaces, and
// lines that are blank or start with '#' are comments.
inline QList<QStringList> dataTable(const QString &name)
{
    QList<QStringList> rows;
    for (const QString &line : QString::fromUtf8(dataFile(name)).split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1Char('#')) && !line.trimmed().isEmpty())
            rows.append(line.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    }
    if (rows.isEmpty())
        qFatal("no table in tests/data/%s", qPrintable(name));
    return rows;
}

// A file under tests/data in blocks, each opened by "== WORDS..."; lines that
// are blank or start with '#' are comments.
struct Block
{
    QStringList header; // the words after "=="
    QStringList lines;
};

inline QVector<Block> dataBlocks(const QString &name)
{
    QVector<Block> found;
    for (const QString &line : QString::fromUtf8(dataFile(name)).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("== ")))
            found.append({line.mid(3).split(QLatin1Char(' ')), {}});
        else if (!line.startsWith(QLatin1Char('#')) && !line.isEmpty() && !found.isEmpty())
            found.last().lines.append(line);
    }
    if (found.isEmpty())
        qFatal("no blocks in tests/data/%s", qPrintable(name));
    return found;
}
#endif

// A value with its type as a fixture states it: text quoted, a list as
// [item|item], a double to 17 digits so that both must match exactly.
inline QString describe(const QVariant &value)
{
    if (!value.isValid())
        return QStringLiteral("invalid");
    const QString type = QLatin1String(value.typeName()) + QLatin1String(": ");
    if (value.userType() == QMetaType::Double)
        return type + QString::number(value.toDouble(), 'g', 17);
    if (value.userType() == QMetaType::QStringList)
        return type + u"["_s + value.toStringList().join(u"|"_s) + u"]"_s;
    if (value.userType() == QMetaType::QString)
        return type + u"\""_s + value.toString() + u"\""_s;
    return type + value.toString();
}

// A load with saving through a settings object that is synced when it returns.
inline bool loadWithSaving(const QString &path, const QByteArray &password,
                           QVariantMap *tree = nullptr)
{
    QSettings settings(path, QSettings::IniFormat);
    QVariantMap local;
    return Drovik::getFileDataWithSaving(&settings, password, tree ? tree : &local);
}

// Nodes of a loaded tree; missing ones read as empty maps.
inline QVariantMap paramsOf(const QVariantMap &tree, const QString &section)
{
    const QVariantMap sections = tree.value(QStringLiteral("sections")).toMap();
    return sections.value(section).toMap().value(QStringLiteral("params")).toMap();
}

inline QVariantMap paramNode(const QVariantMap &tree, const QString &section, const QString &param)
{
    return paramsOf(tree, section).value(param).toMap();
}

enum Level { Plain, ProtectedParams, ProtectedSections, ProtectedFile };

// A tree of the "section/param" entries of values, added to base's sections
// and protected at level. Without order lists the saver writes in name order.
inline QVariantMap makeTree(const QVariantMap &values, Level level, const QVariantMap &base = {})
{
    QVariantMap sections = base.value(QStringLiteral("sections")).toMap();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const int slash = it.key().indexOf(QLatin1Char('/'));
        const QString section = it.key().left(slash);
        QVariantMap node = sections.value(section).toMap();
        QVariantMap params = node.value(QStringLiteral("params")).toMap();
        QVariantMap param {{QStringLiteral("value"), it.value()}};
        if (level == ProtectedParams)
            param.insert(QStringLiteral("encrypted-param"), true);
        params.insert(it.key().mid(slash + 1), param);
        node.insert(QStringLiteral("params"), params);
        if (level == ProtectedSections)
            node.insert(QStringLiteral("encrypted-section"), true);
        sections.insert(section, node);
    }
    QVariantMap tree = base;
    tree.insert(QStringLiteral("sections"), sections);
    if (level == ProtectedFile)
        tree.insert(QStringLiteral("encrypted-file"), true);
    return tree;
}

} // namespace testutil

Q_DECLARE_METATYPE(testutil::Level)

#endif // DROVIK_TESTS_TESTUTIL_H
