#include <drovik/drovik.h>

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

    const QString untouched = QStringLiteral("<untouched>");
    // clang-format off
    QTest::newRow("slash")                 << QStringLiteral("net/port")    << true  << QStringLiteral("net") << QStringLiteral("port");
    QTest::newRow("backslash")             << QStringLiteral("net\\port")   << true  << QStringLiteral("net") << QStringLiteral("port");
    QTest::newRow("only-first-slash")      << QStringLiteral("a/b/c")       << true  << QStringLiteral("a")   << QStringLiteral("b/c");
    QTest::newRow("backslash-before-slash") << QStringLiteral("a\\b/c")     << true  << QStringLiteral("a")   << QStringLiteral("b/c");
    QTest::newRow("slash-before-backslash") << QStringLiteral("a/b\\c")     << true  << QStringLiteral("a")   << QStringLiteral("b\\c");
    QTest::newRow("reserved-param-name")   << QStringLiteral("sec/packed-param-data/x")
                                                                            << true  << QStringLiteral("sec") << QStringLiteral("packed-param-data/x");
    QTest::newRow("non-ascii-halves")      << QStringLiteral("сеть/порт")   << true  << QStringLiteral("сеть") << QStringLiteral("порт");
    QTest::newRow("empty-section")         << QStringLiteral("/x")          << true  << QString()             << QStringLiteral("x");
    QTest::newRow("empty-param")           << QStringLiteral("x/")          << true  << QStringLiteral("x")   << QString();
    QTest::newRow("both-halves-empty")     << QStringLiteral("/")           << true  << QString()             << QString();
    QTest::newRow("lone-backslash")        << QStringLiteral("\\")          << true  << QString()             << QString();
    QTest::newRow("no-separator")          << QStringLiteral("port")        << false << untouched             << untouched;
    QTest::newRow("empty-key")             << QString()                     << false << untouched             << untouched;
    QTest::newRow("other-punctuation")     << QStringLiteral("a.b:c|d")     << false << untouched             << untouched;
    // clang-format on
}

void tst_KeyPath::split()
{
    QFETCH(QString, key);
    QFETCH(bool, ok);
    QFETCH(QString, section);
    QFETCH(QString, param);

    // Outputs start with text so that a failed split visibly leaves them alone
    // and a successful one visibly replaces them, empty halves included.
    QString gotSection = QStringLiteral("<untouched>");
    QString gotParam = QStringLiteral("<untouched>");
    QCOMPARE(Drovik::parseSectionParamByKey(key, gotSection, gotParam), ok);
    QCOMPARE(gotSection, section);
    QCOMPARE(gotParam, param);
    if (ok)
        QCOMPARE(gotSection + key.at(section.size()) + gotParam, key);
}

QTEST_APPLESS_MAIN(tst_KeyPath)
#include "tst_key_path.moc"
