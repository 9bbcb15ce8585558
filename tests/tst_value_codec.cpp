#include "testutil.h"

#include <QtTest/QtTest>

#include <limits>

namespace {

// Key, type and value of every entry, doubles as their shortest exact text:
// QVariant's == takes an int 5 for a LongLong 5 and compares doubles fuzzily.
QStringList typed(const QVariantMap &map)
{
    QStringList lines;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const QStringList items = it->toStringList();
        const QString value = it->userType() == QMetaType::QStringList
                ? u"%1 items [%2]"_s.arg(items.size()).arg(items.join(u"|"_s))
                : it->toString();
        lines << it.key() + u" = "_s + QLatin1String(it->typeName()) + u": "_s + value;
    }
    return lines;
}

QVariantMap entry(const QString &key, const QVariant &value)
{
    return {{key, value}};
}

QVariant ll(qlonglong value)
{
    return value;
}

} // namespace

class tst_ValueCodec : public QObject
{
    Q_OBJECT

private slots:
    void typedText_data();
    void typedText();
};

void tst_ValueCodec::typedText_data()
{
    QTest::addColumn<QVariantMap>("map"); // empty: the text is only read
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariantMap>("back");

    const QString a = u"a"_s;
    const QVariantMap ac {{u"a"_s, ll(1)}, {u"c"_s, ll(3)}};
    const QVariant emptyText = QString();
    const qlonglong min = std::numeric_limits<qlonglong>::min();

    // clang-format off
    QTest::newRow("worked-example")
            << QVariantMap{{u"a"_s, 5}, {u"b"_s, u"hi"_s}, {u"c"_s, true}, {u"d"_s, 2.5}, {u"e"_s, QStringList{u"x"_s, u"y"_s}}}
            << u"61I5N62S6869N63L1N64R2.500000N65T78,79"_s
            << QVariantMap{{u"a"_s, ll(5)}, {u"b"_s, u"hi"_s}, {u"c"_s, true}, {u"d"_s, 2.5}, {u"e"_s, QStringList{u"x"_s, u"y"_s}}};
    QTest::newRow("uint-to-longlong")     << entry(a, 4000000000u)              << u"61I4000000000"_s                << entry(a, ll(4000000000LL));
    QTest::newRow("longlong-min")         << entry(a, min)                      << u"61I-9223372036854775808"_s      << entry(a, ll(min));
    QTest::newRow("ulonglong-above-int64-reads-0")
                                          << entry(a, std::numeric_limits<qulonglong>::max())
                                                                                << u"61I18446744073709551615"_s      << entry(a, ll(0));
    QTest::newRow("double-rounded")       << entry(a, 0.1234567)                << u"61R0.123457"_s                  << entry(a, 0.123457);
    QTest::newRow("double-no-exponent")   << entry(a, 1e20)                     << u"61R100000000000000000000.000000"_s << entry(a, 1e20);
    QTest::newRow("text-cut-at-nul")      << entry(a, u"ab\0cd"_s)              << u"61S6162006364"_s                << entry(a, u"ab"_s);
    QTest::newRow("invalid-to-empty")     << entry(a, QVariant())               << u"61S"_s                          << entry(a, emptyText);
    QTest::newRow("map-to-empty")         << entry(a, entry(a, 1))              << u"61S"_s                          << entry(a, emptyText);
    QTest::newRow("empty-list-one-empty") << entry(a, QStringList())            << u"61T"_s                          << entry(a, QStringList{QString()});
    QTest::newRow("key-of-separators")    << entry(u"N, IT/ü"_s, u"S,N"_s)      << u"4e2c2049542fc3bcS532c4e"_s      << entry(u"N, IT/ü"_s, u"S,N"_s);
    QTest::newRow("key-cut-at-nul")       << entry(u"k\0x"_s, 1)                << u"6b0078I1"_s                     << entry(u"k"_s, ll(1));
    QTest::newRow("empty-key-lost")       << entry(QString(), u"hi"_s)          << u"S6869"_s                        << QVariantMap();
    // Text no writer of ours makes, read leniently. Digits pair up from the
    // end, past anything that is not a digit, as QByteArray::fromHex() reads them.
    QTest::newRow("odd-digits-from-end")    << QVariantMap() << u"61S6162636"_s                      << entry(a, u"\x06\x16&6"_s);
    QTest::newRow("non-digits-skipped")     << QVariantMap() << u"61S6 1 62"_s                       << entry(a, u"ab"_s);
    QTest::newRow("uppercase-hex")          << QVariantMap() << u"6AS4A4b"_s                         << entry(u"j"_s, u"JK"_s);
    QTest::newRow("unknown-tag-skipped")    << QVariantMap() << u"61I1N62X5N63I3"_s                  << ac;
    QTest::newRow("no-key-part-skipped")    << QVariantMap() << u"61I1NS6869N63I3"_s                 << ac;
    QTest::newRow("only-hex-skipped")       << QVariantMap() << u"61I1N6263N63I3"_s                  << ac;
    QTest::newRow("empty-entries-skipped")  << QVariantMap() << u"N61I1NNN63I3N"_s                   << ac;
    QTest::newRow("wide-char-ends-key")     << QVariantMap() << u"61I1N62\u0161S78N63I3"_s           << ac;
    QTest::newRow("later-duplicate-wins")   << QVariantMap() << u"61I1N61S6869"_s                    << entry(a, u"hi"_s);
    QTest::newRow("bool-false-word-true")   << QVariantMap() << u"61Lfalse"_s                        << entry(a, true);
    QTest::newRow("int-unparsable-zero")    << QVariantMap() << u"61I0x10"_s                         << entry(a, ll(0));
    QTest::newRow("list-empty-items-kept")  << QVariantMap() << u"61T,78,"_s                         << entry(a, QStringList{QString(), u"x"_s, QString()});
    // clang-format on
}

void tst_ValueCodec::typedText()
{
    QFETCH(QVariantMap, map);
    QFETCH(QString, text);
    QFETCH(QVariantMap, back);

    if (!map.isEmpty())
        QCOMPARE(Drovik::tinyStrictToText(map), text);
    QCOMPARE(typed(Drovik::textToTinyStruct(text)), typed(back));
}

QTEST_APPLESS_MAIN(tst_ValueCodec)
#include "tst_value_codec.moc"
