#include "testutil.h"

#include <QtTest/QtTest>

class tst_KeyPath : public QObject
{
    Q_OBJECT

private slots:
    void split_data();
    void split();
};

void tst_KeyPath::split_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("param");

    // A failed split leaves both outputs as they were.
    const QString untouched = u"<untouched>"_s;
    // clang-format off
    QTest::newRow("slash")                  << u"net/port"_s  << true  << u"net"_s  << u"port"_s;
    QTest::newRow("backslash")              << u"net\\port"_s << true  << u"net"_s  << u"port"_s;
    QTest::newRow("only-first-slash")       << u"a/b/c"_s     << true  << u"a"_s    << u"b/c"_s;
    QTest::newRow("backslash-before-slash") << u"a\\b/c"_s    << true  << u"a"_s    << u"b/c"_s;
    QTest::newRow("slash-before-backslash") << u"a/b\\c"_s    << true  << u"a"_s    << u"b\\c"_s;
    QTest::newRow("empty-section")          << u"/x"_s        << true  << QString() << u"x"_s;
    QTest::newRow("no-separator")           << u"a.b:c|d"_s   << false << untouched << untouched;
    // clang-format on
}

void tst_KeyPath::split()
{
    QFETCH(QString, key);
    QFETCH(bool, ok);
    QFETCH(QString, section);
    QFETCH(QString, param);

    QString gotSection = u"<untouched>"_s;
    QString gotParam = u"<untouched>"_s;
    QCOMPARE(Drovik::parseSectionParamByKey(key, gotSection, gotParam), ok);
    QCOMPARE(gotSection, section);
    QCOMPARE(gotParam, param);
}

QTEST_APPLESS_MAIN(tst_KeyPath)
#include "tst_key_path.moc"
