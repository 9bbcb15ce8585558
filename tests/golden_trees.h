#ifndef DROVIK_TESTS_GOLDEN_TREES_H
#define DROVIK_TESTS_GOLDEN_TREES_H

// The configurations held by the committed files under tests/data/golden/.
//
// The files were written once, by scripts/make_golden.cpp, and are never
// written again: they pin the stored format from one version to the next.
// Every value here reads back with the type and value written (integers as
// 64-bit, doubles with at most six decimals, plain values as text).

#include "testutil.h"

#include <QtCore/QVector>

#include <ctime>

namespace golden {

struct File
{
    QString name;
    QByteArray password;
    QVariantMap tree;
};

// The saver's inputs: qrand seeded with seed and the wall clock stopped at
// savedAt (in UTC) before every file, so the public keys repeat.
constexpr unsigned seed = 11;
constexpr time_t savedAt = 1796536800; // 2026-12-06 06:00:00 UTC

inline QVariantMap numbered(const QString &section, int count)
{
    QVariantMap values;
    for (int i = 0; i < count; ++i)
        values.insert(u"%1/p%2"_s.arg(section).arg(i, 2, 10, QLatin1Char('0')),
                      u"value %1 of section %2 ✓"_s.arg(i).arg(section));
    return values;
}

// Files written by the saver, one per protection level, and the two levels
// whose cipher text is split into several data chunks.
inline QVector<File> savedFiles()
{
    using testutil::makeTree;
    const QVariantMap plain = makeTree({{u"misc/note"_s, u"kept in plain"_s}}, testutil::Plain);
    QVariantMap chunkedFile = numbered(u"a"_s, 30);
    chunkedFile.insert(numbered(u"b"_s, 30));
    return {
            {u"param.ini"_s, QByteArrayLiteral("golden-param"),
             makeTree({{u"net/port"_s, qlonglong(8443)},
                       {u"net/ratio"_s, -2.75},
                       {u"net/secure"_s, true},
                       {u"net/greeting"_s, u"Grüße, Nina"_s},
                       {u"net/пароль"_s, u"секрет"_s},
                       {u"net/mirrors"_s, QStringList {u"a,b"_s, u"ж"_s, QString()}}},
                      testutil::ProtectedParams, plain)},
            {u"section.ini"_s, u"золото"_s.toUtf8(),
             makeTree({{u"auth/user"_s, u"Zoë"_s},
                       {u"auth/retries"_s, qlonglong(-3)},
                       {u"auth/timeout"_s, 1.5},
                       {u"auth/admin"_s, false},
                       {u"auth/roles"_s, QStringList {u"read"_s, u"write"_s}},
                       {u"данные/ключ"_s, u"значение"_s}},
                      testutil::ProtectedSections, plain)},
            {u"file.ini"_s, QByteArrayLiteral("golden-file"),
             makeTree({{u"app/name"_s, u"clef 𝄞"_s},
                       {u"app/count"_s, qlonglong(0)},
                       {u"app/big"_s, qlonglong(9007199254740993)},
                       {u"app/pi"_s, 3.141593},
                       {u"app/on"_s, true},
                       {u"app/tags"_s, QStringList {u"x"_s}},
                       {u"other/empty"_s, u""_s}},
                      testutil::ProtectedFile)},
            {u"section-chunks.ini"_s, QByteArrayLiteral("golden-chunks"),
             makeTree(numbered(u"big"_s, 40), testutil::ProtectedSections, plain)},
            // The empty password takes its own path through key derivation.
            {u"file-chunks.ini"_s, QByteArray(), makeTree(chunkedFile, testutil::ProtectedFile)},
    };
}

// One parameter stored under the keystream algorithm (algorithm number 1),
// which the saver never writes; long enough to use private key blocks 0 to
// more than 256.
inline File keystreamFile()
{
    QStringList items;
    for (int i = 0; i < 300; ++i)
        items.append(u"item %1 ж"_s.arg(i));
    return {u"keystream.ini"_s, QByteArrayLiteral("golden-keystream"),
            testutil::makeTree({{u"vault/tokens"_s, items}}, testutil::ProtectedParams)};
}

} // namespace golden

Q_DECLARE_METATYPE(golden::File)

#endif // DROVIK_TESTS_GOLDEN_TREES_H
