#include <drovik/drovik.h>

#include <QtCore/QDate>
#include <QtTest/QtTest>

#include <limits>

using VariantMap = QMap<QString, QVariant>;

namespace {

// QVariant::operator== converts between numeric types (an int 5 equals a
// LongLong 5), so types are compared separately, and doubles bit for bit.
QString mismatch(const VariantMap &got, const VariantMap &expected)
{
    if (got.keys() != expected.keys())
        return QStringLiteral("keys %1, expected %2")
                .arg(got.keys().join(QLatin1Char('|')), expected.keys().join(QLatin1Char('|')));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QVariant value = got.value(it.key());
        const bool same = value.userType() == it->userType()
                && (value.userType() == QMetaType::Double ? value.toDouble() == it->toDouble()
                                                          : value == *it);
        if (!same)
            return QStringLiteral("'%1': got %2(%3), expected %4(%5)")
                    .arg(it.key(), QString::fromLatin1(value.typeName()), value.toString(),
                         QString::fromLatin1(it->typeName()), it->toString());
    }
    return QString();
}

VariantMap entry(const QString &key, const QVariant &value)
{
    VariantMap map;
    map.insert(key, value);
    return map;
}

} // namespace

class tst_ValueCodec : public QObject
{
    Q_OBJECT

private slots:
    void writeAndReadBack_data();
    void writeAndReadBack();
    void lenientReading_data();
    void lenientReading();
};

void tst_ValueCodec::writeAndReadBack_data()
{
    QTest::addColumn<VariantMap>("map");
    QTest::addColumn<QString>("text");
    QTest::addColumn<VariantMap>("back");

    const QString a = QStringLiteral("a");
    const auto ll = [](qlonglong v) { return QVariant(v); };
    const auto s = [](const char *latin1) { return QVariant(QString::fromLatin1(latin1)); };
    const QVariant emptyText = QVariant(QString());

    // clang-format off
    QTest::newRow("empty-map")            << VariantMap()                         << QString()                                   << VariantMap();
    QTest::newRow("int-to-longlong")      << entry(a, 42)                         << QStringLiteral("61I42")                     << entry(a, ll(42));
    QTest::newRow("negative-int")         << entry(a, -7)                         << QStringLiteral("61I-7")                     << entry(a, ll(-7));
    QTest::newRow("uint-to-longlong")     << entry(a, 4000000000u)                << QStringLiteral("61I4000000000")             << entry(a, ll(4000000000LL));
    QTest::newRow("longlong-min")         << entry(a, std::numeric_limits<qlonglong>::min())
                                                                                  << QStringLiteral("61I-9223372036854775808")   << entry(a, ll(std::numeric_limits<qlonglong>::min()));
    QTest::newRow("ulonglong-small")      << entry(a, qulonglong(7))              << QStringLiteral("61I7")                      << entry(a, ll(7));
    QTest::newRow("ulonglong-above-int64-reads-0")
                                          << entry(a, std::numeric_limits<qulonglong>::max())
                                                                                  << QStringLiteral("61I18446744073709551615")   << entry(a, ll(0));
    QTest::newRow("double-six-decimals")  << entry(a, 2.5)                        << QStringLiteral("61R2.500000")               << entry(a, 2.5);
    QTest::newRow("double-negative")      << entry(a, -0.25)                      << QStringLiteral("61R-0.250000")              << entry(a, -0.25);
    QTest::newRow("double-rounded")       << entry(a, 0.1234567)                  << QStringLiteral("61R0.123457")               << entry(a, 0.123457);
    QTest::newRow("double-tiny-to-zero")  << entry(a, 0.0000001)                  << QStringLiteral("61R0.000000")               << entry(a, 0.0);
    QTest::newRow("double-no-exponent")   << entry(a, 1e20)                       << QStringLiteral("61R100000000000000000000.000000") << entry(a, 1e20);
    QTest::newRow("bool-true")            << entry(a, true)                       << QStringLiteral("61L1")                      << entry(a, true);
    QTest::newRow("bool-false")           << entry(a, false)                      << QStringLiteral("61L0")                      << entry(a, false);
    QTest::newRow("text")                 << entry(a, s("hi"))                    << QStringLiteral("61S6869")                   << entry(a, s("hi"));
    QTest::newRow("text-comma-N-unicode") << entry(a, QStringLiteral("N,ü €"))             << QStringLiteral("61S4e2cc3bc20e282ac")       << entry(a, QStringLiteral("N,ü €"));
    QTest::newRow("text-cut-at-nul")      << entry(a, QString::fromLatin1("ab\0cd", 5))
                                                                                  << QStringLiteral("61S6162006364")             << entry(a, s("ab"));
    QTest::newRow("empty-text")           << entry(a, emptyText)                  << QStringLiteral("61S")                       << entry(a, emptyText);
    QTest::newRow("invalid-to-empty")     << entry(a, QVariant())                 << QStringLiteral("61S")                       << entry(a, emptyText);
    QTest::newRow("map-to-empty")         << entry(a, QVariant(entry(a, 1)))      << QStringLiteral("61S")                       << entry(a, emptyText);
    QTest::newRow("char-to-text")         << entry(a, QChar(0x00e9))              << QStringLiteral("61Sc3a9")                   << entry(a, QStringLiteral("é"));
    QTest::newRow("bytearray-utf8")       << entry(a, QByteArrayLiteral("caf\xc3\xa9"))  << QStringLiteral("61S636166c3a9")             << entry(a, QStringLiteral("café"));
    QTest::newRow("date-as-its-text")     << entry(a, QDate(2024, 1, 2))          << QStringLiteral("61S323032342d30312d3032")   << entry(a, s("2024-01-02"));
    QTest::newRow("stringlist")           << entry(a, QStringList {QStringLiteral("a,b"), QStringLiteral("N"), QStringLiteral("ж")})
                                                                                  << QStringLiteral("61T612c62,4e,d0b6")
                                                                                  << entry(a, QStringList {QStringLiteral("a,b"), QStringLiteral("N"), QStringLiteral("ж")});
    QTest::newRow("list-to-stringlist")   << entry(a, QVariantList {1, s("b")})   << QStringLiteral("61T31,62")                  << entry(a, QStringList {QStringLiteral("1"), QStringLiteral("b")});
    QTest::newRow("empty-list-one-empty") << entry(a, QStringList())              << QStringLiteral("61T")                       << entry(a, QStringList {QString()});
    QTest::newRow("list-of-empty-text")   << entry(a, QStringList {QString()})    << QStringLiteral("61T")                       << entry(a, QStringList {QString()});
    QTest::newRow("cyrillic-key")         << entry(QStringLiteral("ключ"), 1)              << QStringLiteral("d0bad0bbd18ed187I1")        << entry(QStringLiteral("ключ"), ll(1));
    QTest::newRow("key-of-separators")    << entry(QStringLiteral("N,IT/ü"), QStringLiteral("S,N")) << QStringLiteral("4e2c49542fc3bcS532c4e") << entry(QStringLiteral("N,IT/ü"), QStringLiteral("S,N"));
    QTest::newRow("key-path-as-key")   << entry(QStringLiteral("net/port"), 80) << QStringLiteral("6e65742f706f7274I80")      << entry(QStringLiteral("net/port"), ll(80));
    QTest::newRow("key-cut-at-nul")       << entry(QString::fromLatin1("k\0x", 3), 1)
                                                                                  << QStringLiteral("6b0078I1")                  << entry(QStringLiteral("k"), ll(1));
    QTest::newRow("empty-key-lost")       << entry(QString(), s("hi"))            << QStringLiteral("S6869")                     << VariantMap();
    // clang-format on

    // The published example: one entry of each tag, read back with its type.
    VariantMap example;
    example.insert(QStringLiteral("a"), 5);
    example.insert(QStringLiteral("b"), QStringLiteral("hi"));
    example.insert(QStringLiteral("c"), true);
    example.insert(QStringLiteral("d"), 2.5);
    example.insert(QStringLiteral("e"), QStringList {QStringLiteral("x"), QStringLiteral("y")});
    VariantMap exampleBack = example;
    exampleBack.insert(QStringLiteral("a"), ll(5));
    QTest::newRow("worked-example")
            << example << QStringLiteral("61I5N62S6869N63L1N64R2.500000N65T78,79") << exampleBack;

    // Entries follow the map's own key order (UTF-16 code units: 'B' < 'a').
    VariantMap several;
    several.insert(QStringLiteral("b"), 2);
    several.insert(QStringLiteral("a"), true);
    several.insert(QStringLiteral("B"), s("x"));
    VariantMap severalBack = several;
    severalBack.insert(QStringLiteral("b"), ll(2));
    QTest::newRow("key-order-utf16") << several << QStringLiteral("42S78N61L1N62I2") << severalBack;
}

void tst_ValueCodec::writeAndReadBack()
{
    QFETCH(VariantMap, map);
    QFETCH(QString, text);
    QFETCH(VariantMap, back);

    QCOMPARE(Drovik::tinyStrictToText(map), text);
    const VariantMap got = Drovik::textToTinyStruct(text);
    QVERIFY2(mismatch(got, back).isEmpty(), qPrintable(mismatch(got, back)));
}

void tst_ValueCodec::lenientReading_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<VariantMap>("expected");

    const auto ll = [](qlonglong v) { return QVariant(v); };
    VariantMap ac;
    ac.insert(QStringLiteral("a"), ll(1));
    ac.insert(QStringLiteral("c"), ll(3));
    const QString a = QStringLiteral("a");

    // clang-format off
    QTest::newRow("uppercase-hex")          << QStringLiteral("6AS4A4b")               << entry(QStringLiteral("j"), QStringLiteral("JK"));
    QTest::newRow("uppercase-cyrillic-key") << QStringLiteral("D0BAD0BBD18ED187L1")    << entry(QStringLiteral("ключ"), true);
    QTest::newRow("unknown-tag-skipped")    << QStringLiteral("61I1N62X5N63I3")        << ac;
    QTest::newRow("lowercase-tag-skipped")  << QStringLiteral("61I1N62i5N63I3")        << ac;
    QTest::newRow("no-key-part-skipped")    << QStringLiteral("61I1NS6869N63I3")       << ac;
    QTest::newRow("only-hex-skipped")       << QStringLiteral("61I1N6263N63I3")        << ac;
    QTest::newRow("empty-entries-skipped")  << QStringLiteral("N61I1NNN63I3N")         << ac;
    QTest::newRow("wide-char-ends-key")     << QStringLiteral("61I1N62") + QChar(0x0161) + QStringLiteral("S78N63I3") << ac;
    QTest::newRow("later-duplicate-wins")   << QStringLiteral("61I1N61S6869")          << entry(a, QStringLiteral("hi"));
    QTest::newRow("bool-yes-true")          << QStringLiteral("61Lyes")                << entry(a, true);
    QTest::newRow("bool-false-word-true")   << QStringLiteral("61Lfalse")              << entry(a, true);
    QTest::newRow("bool-empty-true")        << QStringLiteral("61L")                   << entry(a, true);
    QTest::newRow("bool-zero-false")        << QStringLiteral("61L0")                  << entry(a, false);
    QTest::newRow("int-unparsable-zero")    << QStringLiteral("61I0x10")               << entry(a, ll(0));
    QTest::newRow("int-empty-zero")         << QStringLiteral("61I")                   << entry(a, ll(0));
    QTest::newRow("double-exponent")        << QStringLiteral("61R1e3")                << entry(a, 1000.0);
    QTest::newRow("double-unparsable-zero") << QStringLiteral("61Rabc")                << entry(a, 0.0);
    QTest::newRow("list-empty-items-kept")  << QStringLiteral("61T,78,")               << entry(a, QStringList {QString(), QStringLiteral("x"), QString()});
    QTest::newRow("empty-text")             << QString()                               << VariantMap();
    // clang-format on
}

void tst_ValueCodec::lenientReading()
{
    QFETCH(QString, text);
    QFETCH(VariantMap, expected);

    const VariantMap got = Drovik::textToTinyStruct(text);
    QVERIFY2(mismatch(got, expected).isEmpty(), qPrintable(mismatch(got, expected)));
}

QTEST_APPLESS_MAIN(tst_ValueCodec)
#include "tst_value_codec.moc"
