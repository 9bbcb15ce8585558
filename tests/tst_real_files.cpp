#include "tool_runner.h"

#include <QtTest/QtTest>

// Every writing command of the tool, run on files as applications and
// administrators really write them, either keeps every key it was not asked to
// change (read back through a fresh QSettings, protected ones decrypted) or
// fails and leaves the file byte for byte as it was.

namespace {

const QByteArray password = QByteArrayLiteral("corpus-pw");
const QByteArray newPassword = QByteArrayLiteral("corpus-new-pw");
const QString corpus = QStringLiteral(DROVIK_SOURCE_DIR "/tests/data/corpus/");

// The rows of a table in tests/data/corpus, split at spaces; "-" stands for
// an empty field.
QList<QStringList> rows(const QString &name)
{
    QFile file(corpus + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    QList<QStringList> rows;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        rows.append(QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts));
        rows.last().replaceInStrings(QRegularExpression(u"^-$"_s), QString());
    }
    return rows;
}

bool matches(const QString &target, const QString &key)
{
    if (target == QLatin1String("*"))
        return key.contains(QLatin1Char('/'));
    return target.endsWith(QLatin1Char('/')) ? key.startsWith(target) : key == target;
}

// Values compared as text: a decrypted value keeps its type (an int), the
// same value stored in plain reads back as text.
QVariant comparable(const QVariant &value)
{
    const int type = value.userType();
    if (type == QMetaType::QStringList || type == QMetaType::QVariantList)
        return value.toStringList();
    return type == QMetaType::QByteArray ? value : QVariant(value.toString());
}

// The configuration as a reader of the file sees it: stored holds the keys
// that a plain QSettings reads outside the protection layout, all adds every
// decrypted key.
struct View
{
    QVariantMap stored, all;
    bool opened = false;
};

View view(testutil::Files &files, const QString &path, const QByteArray &pw)
{
    View view;
    QSettings settings(files.copy(path), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // As a Qt 6 program reads it: raw text as UTF-8, escapes as what they stand for.
    settings.setIniCodec("UTF-8");
#endif
    const QRegularExpression layout(u"^packed-file/|(^|/)packed-(section|param)-"_s);
    for (const QString &key : settings.allKeys()) {
        if (!key.contains(layout))
            view.stored.insert(key, comparable(settings.value(key)));
    }
    view.all = view.stored;
    const QVariantMap loaded = loadedValues(files, path, pw, &view.opened);
    for (auto it = loaded.cbegin(); it != loaded.cend(); ++it)
        view.all.insert(it.key(), comparable(it.value()));
    return view;
}

} // namespace

class tst_RealFiles : public QObject
{
    Q_OBJECT

private slots:
    void writingCommand_data();
    void writingCommand();
};

void tst_RealFiles::writingCommand_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("arguments"); // F stands for the file
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("expect");
    QTest::addColumn<QString>("marked");

    for (const QStringList &sample : rows(u"targets"_s)) {
        const QString &k = sample[1], &q = sample[2], &u = sample[3];
        const QString unprotect = u == QLatin1String("*") ? u"--file"_s
                : u.endsWith(QLatin1Char('/'))            ? u"--section "_s + u.chopped(1)
                                                          : u"--key "_s + u;
        for (const QStringList &command : rows(u"commands"_s)) {
            QString words = command.mid(3).join(QLatin1Char(' ')), target = command[1];
            if ((words.contains(u"$Q"_s) && q.isEmpty())
                || (words.contains(u"$U"_s) && u.isEmpty()))
                continue;
            for (QString *text : {&words, &target}) {
                text->replace(u"$K"_s, k).replace(u"$S"_s, k.section(QLatin1Char('/'), 0, 0));
                text->replace(u"$Q"_s, q).replace(u"$U"_s, text == &words ? unprotect : u);
            }
            QTest::addRow("%s/%s", qPrintable(sample[0]), qPrintable(command[0]))
                    << sample[0] << words.split(QLatin1Char(' ')) << target << command[2]
                    << sample[4];
        }
    }
}

void tst_RealFiles::writingCommand()
{
    QFETCH(QString, file);
    QFETCH(QStringList, arguments);
    QFETCH(QString, target);
    QFETCH(QString, expect);
    QFETCH(QString, marked);

    testutil::Files files;
    const QByteArray original = testutil::Files::bytes(corpus + file + u".ini"_s);
    QVERIFY(!original.isEmpty());
    const QString path = files.write(original);
    const View before = view(files, path, password);
    QVERIFY(before.opened);
    QStringList targeted;
    for (const QString &key : before.all.keys()) {
        if (matches(target, key))
            targeted.append(key);
    }
    QVERIFY2(target.isEmpty() || !targeted.isEmpty(), qPrintable(target));

    arguments.replaceInStrings(QRegularExpression(u"^F$"_s), path);
    // The editor gets the decrypted text as its last argument and edits the target.
    const QString editor = u"sed -i '/^\\[%1\\]$/,/^\\[/ s/^%2=.*/%2=edited/'"_s.arg(
            target.section(QLatin1Char('/'), 0, 0), target.section(QLatin1Char('/'), 1));
    const ToolRun result = runTool(arguments,
                                   {{u"DROVIK_PASSWORD"_s, QString::fromLatin1(password)},
                                    {u"DROVIK_NEW_PASSWORD"_s, QString::fromLatin1(newPassword)},
                                    {u"EDITOR"_s, editor}});
    if (result.code != 0) {
        QVERIFY2(result.code > 0, qPrintable(result.report));
        QVERIFY2(testutil::Files::bytes(path) == original, qPrintable(result.report));
        return;
    }

    const bool passwd = arguments.constFirst() == QLatin1String("passwd");
    const View after = view(files, path, passwd ? newPassword : password);
    QVERIFY2(after.opened, qPrintable(result.report));
    // Once something is stored protected, only the new password opens it.
    if (passwd && after.all.size() > after.stored.size())
        QVERIFY2(!view(files, path, password).opened, qPrintable(result.report));
    QVariantMap expected = before.all;
    for (const QString &key : std::as_const(targeted)) {
        if (expect == QLatin1String("gone"))
            expected.remove(key);
        else if (expect == QLatin1String("edited"))
            expected.insert(key, u"edited"_s);
        else // protected or plain
            QVERIFY2(after.stored.contains(key) == (expect == QLatin1String("plain")),
                     qPrintable(result.report + key));
    }
    QCOMPARE(after.all, expected);
    // Any write stores what is marked by hand protected.
    if (!marked.isEmpty() && !matches(target, marked) && after.all.contains(marked))
        QVERIFY2(!after.stored.contains(marked), qPrintable(result.report + marked));
}

QTEST_GUILESS_MAIN(tst_RealFiles)
#include "tst_real_files.moc"
