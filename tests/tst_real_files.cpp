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

// What a target aims at: a key, a section as "S/" (its keys), "*" (every key
// inside a section) or "-" (none).
QRegularExpression aimedAt(const QString &target)
{
    if (target == QLatin1String("*"))
        return QRegularExpression(u"/"_s);
    const QString start = u"^"_s + QRegularExpression::escape(target);
    return QRegularExpression(target.endsWith(QLatin1Char('/')) ? start : start + u"$"_s);
}

// Values compared as text: a decrypted value keeps its type (an int), the
// same value stored in plain reads back as text.
QVariant comparable(const QVariant &value)
{
    if (value.userType() == QMetaType::QStringList || value.userType() == QMetaType::QVariantList)
        return value.toStringList();
    return value.userType() == QMetaType::QByteArray ? value : QVariant(value.toString());
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
    QTest::addColumn<QString>("marked"); // "-": none
    QTest::addColumn<bool>("refused");

    // Two tables beside the corpus; "-" marks a part a file leaves out.
    const QSettings commands(corpus + u"commands"_s, QSettings::IniFormat);
    const QSettings targets(corpus + u"targets"_s, QSettings::IniFormat);
    if (commands.allKeys().isEmpty() || targets.allKeys().isEmpty())
        qFatal("the tables beside the corpus are missing");
    for (const QString &file : targets.allKeys()) {
        const QStringList part = targets.value(file).toStringList();
        const QString &k = part[0], &q = part[1], &u = part[2];
        const QString unprotect = u == QLatin1String("*") ? u"--file"_s
                : u.endsWith(QLatin1Char('/'))            ? u"--section "_s + u.chopped(1)
                                                          : u"--key "_s + u;
        for (const QString &tag : commands.allKeys()) {
            const QStringList command = commands.value(tag).toStringList();
            QString target = command[0], words = command[2];
            if ((words.contains(u"$Q"_s) && q == QLatin1String("-"))
                || (words.contains(u"$U"_s) && u == QLatin1String("-")))
                continue;
            for (QString *text : {&words, &target}) {
                text->replace(u"$K"_s, k).replace(u"$S"_s, k.section(QLatin1Char('/'), 0, 0));
                text->replace(u"$Q"_s, q).replace(u"$U"_s, text == &words ? unprotect : u);
            }
            QTest::addRow("%s/%s", qPrintable(file), qPrintable(tag))
                    << file << words.split(QLatin1Char(' ')) << target << command[1] << part[3]
                    << (part[4] == QLatin1String("*") || part[4] == tag);
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
    QFETCH(bool, refused);

    testutil::Files files;
    const QByteArray original = testutil::Files::bytes(corpus + file + u".ini"_s);
    QVERIFY(!original.isEmpty());
    const QString path = files.write(original);
    const View before = view(files, path, password);
    QVERIFY(before.opened);
    const QStringList targeted = before.all.keys().filter(aimedAt(target));
    QVERIFY2(target == QLatin1String("-") || !targeted.isEmpty(), qPrintable(target));

    arguments.replaceInStrings(QRegularExpression(u"^F$"_s), path);
    // The editor gets the decrypted text as its last argument and edits the target.
    const QString editor = u"sed -i '/^\\[%1\\]$/,/^\\[/ s/^%2=.*/%2=edited/'"_s.arg(
            target.section(QLatin1Char('/'), 0, 0), target.section(QLatin1Char('/'), 1));
    const ToolRun result = runTool(arguments,
                                   {{u"DROVIK_PASSWORD"_s, QString::fromLatin1(password)},
                                    {u"DROVIK_NEW_PASSWORD"_s, QString::fromLatin1(newPassword)},
                                    {u"EDITOR"_s, editor}});
    // A refusal is right only where the file gives a reason for it.
    QVERIFY2((result.code != 0) == refused, qPrintable(result.report));
    if (refused) {
        QVERIFY2(result.code > 0 && testutil::Files::bytes(path) == original,
                 qPrintable(result.report));
        return;
    }

    const bool passwd = arguments.constFirst() == QLatin1String("passwd");
    const View after = view(files, path, passwd ? newPassword : password);
    QVERIFY2(after.opened, qPrintable(result.report));
    // Once something is stored protected, only the new password opens it.
    if (passwd && after.all.size() > after.stored.size())
        QVERIFY2(!view(files, path, password).opened, qPrintable(result.report));
    QVariantMap expected = before.all;
    for (const QString &key : targeted) {
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
    if (!marked.contains(aimedAt(target)) && after.all.contains(marked))
        QVERIFY2(!after.stored.contains(marked), qPrintable(result.report + marked));
}

QTEST_GUILESS_MAIN(tst_RealFiles)
#include "tst_real_files.moc"
