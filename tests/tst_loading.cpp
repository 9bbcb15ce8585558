#include "testutil.h"

#include <QtTest/QtTest>

using testutil::Files;

namespace {

const QByteArray password = QByteArrayLiteral("right");

// What storedProtection() says, in the words of the fixture.
QString protectionOf(const QSettings &settings, QStringList *layout)
{
    QStringList items;
    const auto answer = Drovik::storedProtection(&settings, layout);
    for (auto it = answer.cbegin(); it != answer.cend(); ++it)
        items << (it.key().isEmpty() ? u"file"_s : it.key())
                        + (it.value() == Drovik::Protected ? u" protected"_s : u" marked"_s);
    layout->sort();
    return items.isEmpty() ? u"none"_s : items.join(u", "_s);
}

} // namespace

class tst_Loading : public QObject
{
    Q_OBJECT

private slots:
    void storedFiles_data();
    void storedFiles();

private:
    Files files;
};

// One row per file of stored-files.txt: its bytes and its outcome lines.
void tst_Loading::storedFiles_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QVariantMap>("outcome");
    for (const testutil::Block &block : testutil::dataBlocks(u"stored-files.txt"_s)) {
        QByteArray ini;
        QVariantMap outcome;
        for (const QString &line : block.lines) {
            if (line.startsWith(u"> "_s))
                outcome.insert(line.mid(2).section(u": "_s, 0, 0), line.section(u": "_s, 1));
            else
                ini += line.toUtf8() + '\n';
        }
        QTest::newRow(qPrintable(block.header.at(0))) << ini << outcome;
    }
}

void tst_Loading::storedFiles()
{
    QFETCH(QByteArray, ini);
    QFETCH(QVariantMap, outcome);
    const auto stated = [&outcome](const char *name) {
        return outcome.value(QLatin1String(name)).toString();
    };
    const bool loads = stated("loads") != QLatin1String("no");

    const QString path = files.write(ini);
    QVariantMap tree;
    {
        const QSettings settings(path, QSettings::IniFormat);
        bool needsSaving = false;
        QCOMPARE(Drovik::parseFile(&settings, password, &tree, &needsSaving), loads);
        if (outcome.contains(u"needs saving"_s))
            QCOMPARE(needsSaving, stated("needs saving") == QLatin1String("yes"));
        QVariantMap unflagged;
        QCOMPARE(Drovik::getFileData(&settings, password, &unflagged), loads);
        if (loads)
            QCOMPARE(unflagged, tree); // the flag changes what is reported, not what is loaded
        if (outcome.contains(u"protection"_s)) {
            QStringList layout;
            QCOMPARE(protectionOf(settings, &layout), stated("protection"));
            QCOMPARE(layout, stated("layout").split(QLatin1Char(' '), Qt::SkipEmptyParts));
        }
        if (outcome.contains(u"value"_s)) {
            const QString key = stated("value").section(u" = "_s, 0, 0);
            const QVariant value = Drovik::value(&settings, key, u"default"_s, password);
            QCOMPARE(key + u" = "_s + testutil::describe(value), stated("value"));
        }
    }
    if (outcome.contains(u"sections order"_s))
        QCOMPARE(tree.value(u"sections-order"_s).toStringList().join(QLatin1Char(' ')),
                 stated("sections order"));
    const QString gone = stated("gone");
    if (!gone.isEmpty()) {
        const QString section = gone.section(QLatin1Char('/'), 0, 0);
        QVERIFY2(!testutil::paramsOf(tree, section).contains(gone.section(QLatin1Char('/'), 1)),
                 qPrintable(gone));
    }
    QCOMPARE(Files::bytes(path), ini); // loading never writes

    // Loading with saving rewrites exactly when the flag is raised, never when
    // the load fails, and stale magic keys leave the file.
    if (!loads || outcome.contains(u"needs saving"_s)) {
        QCOMPARE(testutil::loadWithSaving(path, password), loads);
        QCOMPARE(Files::bytes(path) != ini, stated("needs saving") == QLatin1String("yes"));
    }
    if (gone.endsWith(QLatin1String("magic")))
        QVERIFY2(!files.storedKeys(path).contains(gone), qPrintable(gone));
}

QTEST_APPLESS_MAIN(tst_Loading)
#include "tst_loading.moc"
