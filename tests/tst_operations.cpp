#include "testutil.h"

#include <QtTest/QtTest>

#include <functional>
#include <memory>

namespace {

const QByteArray password = QByteArrayLiteral("right-pw");

// What every start file under tests/data/operations holds.
const QMap<QString, QString> startValues {{u"log/level"_s, u"debug"_s},
                                          {u"net/host"_s, u"alpha.example"_s},
                                          {u"net/port"_s, u"8080"_s}};

// The stored key names of values (key -> value; an empty value is gone) when
// item ("file", a section, a key or nothing) is protected, sorted.
QStringList storedNames(const QMap<QString, QString> &values, const QString &item)
{
    QStringList names;
    const auto addParts = [&names](const QString &pattern, const char *data) {
        for (const char *part : {"algorithm", data, "enabled", "public"})
            names << pattern.arg(QLatin1String(part));
    };
    if (item == QLatin1String("file")) {
        addParts(u"packed-file/%1"_s, "data000");
        return names;
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QString section = it.key().section(QLatin1Char('/'), 0, 0);
        if (it.value().isEmpty())
            continue;
        if (item == section)
            addParts(section + u"/packed-section-%1"_s, "data000");
        else if (item == it.key())
            addParts(section + u"/packed-param-%1/"_s + it.key().section(QLatin1Char('/'), 1),
                     "data");
        else
            names << it.key();
    }
    names.removeDuplicates();
    names.sort();
    return names;
}

// One call of the library, written as "operation argument [value]". Query steps
// answer true for a true flag, a found value or a non-empty listing. An unknown
// step answers false, which fails its row.
bool runStep(QSettings *s, const QString &step, const QByteArray &pw)
{
    const QStringList w = step.split(QLatin1Char(' '));
    const QString arg = w.value(1);
    const QString val = w.value(2);
    const QStringList list = arg.split(QLatin1Char(','));
    using D = Drovik;
    const std::pair<const char *, std::function<bool()>> calls[] = {
            {"delParam", [&] { return D::delParam(s, arg, pw); }},
            {"delParams", [&] { return D::delParams(s, list, pw); }},
            {"delSection", [&] { return D::delSection(s, arg, pw); }},
            {"delSections", [&] { return D::delSections(s, list, pw); }},
            {"encryptParam", [&] { return D::encryptParam(s, arg, pw); }},
            {"decryptParam", [&] { return D::decryptParam(s, arg, pw); }},
            {"encryptNewParam", [&] { return D::encryptNewParam(s, arg, val, pw); }},
            {"decryptNewParam", [&] { return D::decryptNewParam(s, arg, val, pw); }},
            {"encryptSection", [&] { return D::encryptSection(s, arg, pw); }},
            {"decryptSection", [&] { return D::decryptSection(s, arg, pw); }},
            {"encryptFile", [&] { return D::encryptFile(s, pw); }},
            {"decryptFile", [&] { return D::decryptFile(s, pw); }},
            {"value", [&] { return D::value(s, arg, QVariant(), pw).isValid(); }},
            {"isEncryptedSection", [&] { return D::isEncryptedSection(s, arg, pw); }},
            {"sections", [&] { return !D::sections(s, pw).isEmpty(); }},
    };
    for (const auto &call : calls) {
        if (w.at(0) == QLatin1String(call.first))
            return call.second();
    }
    return false;
}

QString readOnlyValue(const QSettings *s, const QString &key)
{
    return Drovik::value(s, key, u"<default>"_s, password).toString();
}

} // namespace

class tst_Operations : public QObject
{
    Q_OBJECT

private slots:
    void changes_data();
    void changes();
    void setValuePaths_data();
    void setValuePaths();

private:
    QByteArray fileBytes(QSettings *s)
    {
        s->sync();
        return testutil::Files::bytes(s->fileName());
    }
    QVariantMap storedKeys(QSettings *s)
    {
        s->sync();
        return m_files.storedKeys(s->fileName());
    }
    // A settings object on a copy of a start file, after the steps ran on it.
    std::unique_ptr<QSettings> open(const QString &start, const QString &steps)
    {
        const QByteArray text = testutil::dataFile(u"operations/%1.ini"_s.arg(start));
        if (text.isEmpty())
            qFatal("no start file %s", qPrintable(start));
        auto s = std::make_unique<QSettings>(m_files.write(text), QSettings::IniFormat);
        for (const QString &step : steps.split(u"; "_s, Qt::SkipEmptyParts)) {
            if (!runStep(s.get(), step, password))
                qFatal("setup step failed: %s", qPrintable(step));
        }
        return s;
    }

    testutil::Files m_files;
};

// A fresh reader must find exactly the stored keys that the protection implies,
// the sections left, the protection and every value.
void tst_Operations::changes_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("protectedItem");
    QTest::addColumn<QString>("changed");
    QTest::addColumn<QString>("steps");
    for (const QStringList &row : testutil::dataTable(u"operations/changes.txt"_s))
        QTest::newRow(qPrintable(row.at(0)))
                << row.at(1) << row.at(2) << row.at(3) << row.mid(4).join(QLatin1Char(' '));
}

void tst_Operations::changes()
{
    QFETCH(QString, start);
    QFETCH(QString, protectedItem);
    QFETCH(QString, changed);
    QFETCH(QString, steps);

    auto s = open(start, {});
    for (const QString &step : steps.split(u"; "_s))
        QVERIFY2(runStep(s.get(), step, password), qPrintable(step + u" failed"_s));
    QMap<QString, QString> values = startValues;
    for (const QString &change : changed.split(QLatin1Char(','))) {
        if (change != QLatin1String("-"))
            values.insert(change.section(QLatin1Char('='), 0, 0),
                          change.section(QLatin1Char('='), 1));
    }
    if (protectedItem == QLatin1String("-"))
        protectedItem.clear();
    QCOMPARE(storedKeys(s.get()).keys(), storedNames(values, protectedItem));

    // Every query is a new load; on a file with nothing marked none of them may
    // rewrite it.
    const QByteArray text = fileBytes(s.get());
    QStringList sections;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (!it.value().isEmpty())
            sections << it.key().section(QLatin1Char('/'), 0, 0);
    }
    sections.removeDuplicates();
    QCOMPARE(Drovik::sections(s.get(), password), sections);
    QStringList found;
    if (Drovik::isEncryptedFile(s.get(), password))
        found << u"file"_s;
    for (const QString &section : sections) {
        if (Drovik::isEncryptedSection(s.get(), section, password))
            found << section;
    }
    for (const QString &key : Drovik::parametersOfFile(s.get(), password)) {
        if (Drovik::isEncryptedParam(s.get(), key, password))
            found << key;
    }
    QCOMPARE(found.join(QLatin1Char(' ')), protectedItem);
    QCOMPARE(fileBytes(s.get()), text);

    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QString &key = it.key();
        QCOMPARE(readOnlyValue(s.get(), key), it.value().isEmpty() ? u"<default>"_s : it.value());
        const bool covered = protectedItem == QLatin1String("file")
                || protectedItem == key.section(QLatin1Char('/'), 0, 0) || protectedItem == key;
        QVERIFY2(it.value().isEmpty() || text.contains(it.value().toUtf8()) != covered,
                 qPrintable(key + (covered ? u" readable"_s : u" missing"_s) + u" in plain"_s));
    }
}

// Whether setValue writes one key (the shortcut) or rewrites the file.
void tst_Operations::setValuePaths_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<bool>("shortcut");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("setup");
    for (const QStringList &row : testutil::dataTable(u"operations/set-value.txt"_s))
        QTest::newRow(qPrintable(row.at(0))) << row.at(1) << (row.at(2) == u"yes"_s) << row.at(3)
                                             << row.mid(4).join(QLatin1Char(' '));
}

void tst_Operations::setValuePaths()
{
    QFETCH(QString, start);
    QFETCH(bool, shortcut);
    QFETCH(QString, key);
    QFETCH(QString, setup);

    auto s = open(start, setup);
    QVariantMap expected = storedKeys(s.get());
    const QString newValue = u"v-NEW-42"_s;
    QVERIFY(Drovik::setValue(s.get(), key, newValue, password));
    expected.insert(key, newValue);
    if (shortcut)
        QCOMPARE(storedKeys(s.get()), expected);
    // The new value is stored in plain exactly when the shortcut was taken.
    QCOMPARE(fileBytes(s.get()).contains(newValue.toUtf8()), shortcut);
    QCOMPARE(readOnlyValue(s.get(), key), newValue);
    QCOMPARE(readOnlyValue(s.get(), u"net/host"_s), u"alpha.example"_s);
}

QTEST_APPLESS_MAIN(tst_Operations)
#include "tst_operations.moc"
