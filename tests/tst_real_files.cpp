#include "tool_runner.h"

#include <QtTest/QtTest>

// Every writing command of the tool, run on files as applications and
// administrators really write them, either keeps every key it was not asked to
// change (read back through a fresh QSettings, protected ones decrypted) or
// fails and leaves the file byte for byte as it was.

namespace {

const QByteArray password = QByteArrayLiteral("corpus-pw");
const QByteArray newPassword = QByteArrayLiteral("corpus-new-pw");

// One file of tests/data/corpus and the keys the commands aim at: K a key of a
// section with a plain ASCII name (so a scripted editor can find it), Q a key
// inside stored protection, U what to unprotect (a key, "S/" or "*"), M a key
// inside a part marked by hand. An empty field leaves out the commands that need it.
struct Sample
{
    const char *file, *k, *q, *u, *m;
};

// clang-format off
const Sample samples[] = {
    {"app-written",       "network/proxyHost", "",                  "",               ""},
    {"admin-notes",       "database/password", "",                  "",               ""},
    {"windows-crlf",      "License/Key",       "",                  "",               ""},
    {"unicode",           "Benutzer/name",     "",                  "",               ""},
    {"odd-names",         "paths/url",         "",                  "",               ""},
    {"junk-lines",        "limits/maxJobs",    "",                  "",               ""},
    {"broken-header",     "service/name",      "",                  "",               ""},
    {"marked-section",    "net/port",          "",                  "auth/",          "auth/pass"},
    {"marked-param",      "alerts/to",         "",                  "smtp/password",  "smtp/password"},
    {"marked-file",       "schedule/cron",     "",                  "*",              "storage/secretKey"},
    {"protected-param",   "db/host",           "db/password",       "db/password",    ""},
    {"protected-section", "web/workers",       "vault/token",       "vault/",         ""},
    {"protected-file",    "mail/host",         "api/secret",        "*",              ""},
    {"mixed-levels",      "ui/theme",          "payment/apiSecret", "client/token",   "proxy/password"},
};
// clang-format on

// What a command must have done to the keys it targets; every other key reads
// back as before.
enum Expect { Untouched, Value, Gone, StoredProtected, StoredPlain };

// A target is a key, a section as "S/" (its keys), or "*" (every key inside a section).
struct Command
{
    const char *tag, *words, *target;
    Expect expect;
    const char *value;
};

// clang-format off
const Command commands[] = {
    {"set",             "set F $K changed",         "$K",  Value,           "changed"},
    {"set-protected",   "set F $Q changed",         "$Q",  Value,           "changed"},
    {"del",             "del F $K",                 "$K",  Gone,            ""},
    {"del-section",     "del-section F $S",         "$S/", Gone,            ""},
    {"protect-key",     "protect F --key $K",       "$K",  StoredProtected, ""},
    {"protect-section", "protect F --section $S",   "$S/", StoredProtected, ""},
    {"protect-file",    "protect F --file",         "*",   StoredProtected, ""},
    {"unprotect",       "unprotect F $U",           "$U",  StoredPlain,     ""},
    {"passwd",          "passwd F",                 "",    Untouched,       ""},
    {"regen",           "regen F",                  "",    Untouched,       ""},
    {"edit",            "edit F",                   "$K",  Value,           "edited"},
};
// clang-format on

bool isLayoutKey(const QString &section, const QString &param)
{
    return section == QLatin1String("packed-file")
            || param.startsWith(QLatin1String("packed-section-"))
            || param.startsWith(QLatin1String("packed-param-"));
}

// Values compared as text: a decrypted value keeps its type (an int), the
// same value stored in plain reads back as text.
QVariant comparable(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::QByteArray:
        return value;
    case QMetaType::QStringList:
    case QMetaType::QVariantList:
        return value.toStringList();
    default:
        return value.toString();
    }
}

// The configuration as a reader of the file sees it: stored holds the keys
// that a plain QSettings reads outside the protection layout, all adds every
// decrypted key.
struct View
{
    QVariantMap stored, all;
    bool opened = false;
};

bool matches(const QString &target, const QString &key)
{
    if (target == QLatin1String("*"))
        return key.contains(QLatin1Char('/'));
    return target.endsWith(QLatin1Char('/')) ? key.startsWith(target) : key == target;
}

QVariantMap without(QVariantMap keys, const QString &target)
{
    for (auto it = keys.begin(); it != keys.end();)
        it = !target.isEmpty() && matches(target, it.key()) ? keys.erase(it) : std::next(it);
    return keys;
}

} // namespace

Q_DECLARE_METATYPE(Expect)

class tst_RealFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void writingCommand_data();
    void writingCommand();

private:
    View view(const QString &path, const QByteArray &pw);
    ToolRun run(const QStringList &arguments, const QString &key);

    testutil::Files m_files;
    QString m_editor;
};

void tst_RealFiles::initTestCase()
{
    QVERIFY(m_files.isValid());
    // "EDITOR SECTION PARAM FILE": changes one value in the decrypted text.
    m_editor = m_files.write("#!/bin/sh\n"
                             "sed -i \"/^\\[$1\\]\\$/,/^\\[/ s/^$2=.*/$2=edited/\" \"$3\"\n");
    QVERIFY(QFile::setPermissions(m_editor, QFile::ReadOwner | QFile::ExeOwner));
}

View tst_RealFiles::view(const QString &path, const QByteArray &pw)
{
    View view;
    QSettings settings(m_files.copy(path), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // As a Qt 6 program reads it: raw text as UTF-8, escapes as what they stand for.
    settings.setIniCodec("UTF-8");
#endif
    for (const QString &key : settings.allKeys()) {
        const int split = key.indexOf(QLatin1Char('/'));
        if (!isLayoutKey(key.left(split), split < 0 ? key : key.mid(split + 1)))
            view.stored.insert(key, comparable(settings.value(key)));
    }
    view.all = view.stored;
    const QVariantMap loaded = loadedValues(m_files, path, pw, &view.opened);
    for (auto it = loaded.cbegin(); it != loaded.cend(); ++it)
        view.all.insert(it.key(), comparable(it.value()));
    return view;
}

ToolRun tst_RealFiles::run(const QStringList &arguments, const QString &key)
{
    // The editor changes key: "EDITOR SECTION PARAM FILE".
    const QString editor = QStringList {m_editor, key.section(QLatin1Char('/'), 0, 0),
                                        key.section(QLatin1Char('/'), 1)}
                                   .join(QLatin1Char(' '));
    return runTool(arguments,
                   {{u"DROVIK_PASSWORD"_s, QString::fromLatin1(password)},
                    {u"DROVIK_NEW_PASSWORD"_s, QString::fromLatin1(newPassword)},
                    {u"EDITOR"_s, editor}});
}

void tst_RealFiles::writingCommand_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("arguments"); // F stands for the file
    QTest::addColumn<QString>("target");
    QTest::addColumn<Expect>("expect");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("marked");

    for (const Sample &sample : samples) {
        const QString k = QLatin1String(sample.k), q = QLatin1String(sample.q);
        const QString u = QLatin1String(sample.u);
        const QString unprotect = u == QLatin1String("*") ? u"--file"_s
                : u.endsWith(QLatin1Char('/'))            ? u"--section "_s + u.chopped(1)
                                                          : u"--key "_s + u;
        for (const Command &command : commands) {
            QString words = QLatin1String(command.words), target = QLatin1String(command.target);
            if ((words.contains(u"$Q"_s) && q.isEmpty())
                || (words.contains(u"$U"_s) && u.isEmpty()))
                continue;
            for (QString *text : {&words, &target}) {
                text->replace(u"$K"_s, k).replace(u"$S"_s, k.section(QLatin1Char('/'), 0, 0));
                text->replace(u"$Q"_s, q).replace(u"$U"_s, text == &words ? unprotect : u);
            }
            QTest::addRow("%s/%s", sample.file, command.tag)
                    << QString::fromLatin1(sample.file)
                    << words.split(QLatin1Char(' '), Qt::SkipEmptyParts) << target << command.expect
                    << QString::fromLatin1(command.value) << QString::fromLatin1(sample.m);
        }
    }
}

void tst_RealFiles::writingCommand()
{
    QFETCH(QString, file);
    QFETCH(QStringList, arguments);
    QFETCH(QString, target);
    QFETCH(Expect, expect);
    QFETCH(QString, value);
    QFETCH(QString, marked);

    const QByteArray original = testutil::Files::bytes(
            QStringLiteral(DROVIK_SOURCE_DIR "/tests/data/corpus/%1.ini").arg(file));
    QVERIFY(!original.isEmpty());
    const QString path = m_files.write(original);
    const View before = view(path, password);
    QVERIFY(before.opened);
    const QStringList keys = before.all.keys();
    QVERIFY2(target.isEmpty()
                     || std::any_of(keys.cbegin(), keys.cend(),
                                    [&](const QString &key) { return matches(target, key); }),
             qPrintable(target));

    arguments.replaceInStrings(QRegularExpression(u"^F$"_s), path);
    const ToolRun result = run(arguments, target);
    const QString report = result.report;
    const int code = result.code;
    if (code != 0) {
        QVERIFY2(code > 0, qPrintable(report));
        QVERIFY2(testutil::Files::bytes(path) == original, qPrintable(report));
        return;
    }

    const bool passwd = arguments.constFirst() == QLatin1String("passwd");
    const View after = view(path, passwd ? newPassword : password);
    QVERIFY2(after.opened, qPrintable(report));
    // Once something is stored protected, only the new password opens it.
    if (passwd && after.all.size() > after.stored.size())
        QVERIFY2(!view(path, password).opened, qPrintable(report));
    const QVariantMap kept = without(before.all, target);
    QCOMPARE(without(after.all, target), kept);
    for (auto it = before.all.cbegin(); it != before.all.cend(); ++it) {
        if (target.isEmpty() || !matches(target, it.key()))
            continue;
        const QString key = it.key();
        switch (expect) {
        case Value:
            QCOMPARE(after.all.value(key), QVariant(value));
            break;
        case Gone:
            QVERIFY2(!after.all.contains(key), qPrintable(report + key));
            break;
        case StoredProtected:
            QVERIFY2(!after.stored.contains(key), qPrintable(report + key));
            QCOMPARE(after.all.value(key), it.value());
            break;
        case StoredPlain:
            QCOMPARE(after.stored.value(key), it.value());
            break;
        case Untouched:
            break;
        }
    }
    // Any write stores what is marked by hand protected.
    if (!marked.isEmpty() && !matches(target, marked) && after.all.contains(marked))
        QVERIFY2(!after.stored.contains(marked), qPrintable(report + marked));
}

QTEST_GUILESS_MAIN(tst_RealFiles)
#include "tst_real_files.moc"
