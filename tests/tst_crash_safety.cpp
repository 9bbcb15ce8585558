// Kills a process at random moments while it saves a large file through the
// library, and checks after every kill that the file holds one whole content
// or the other: never a mix, never a truncation. The library only refills the
// QSettings object; the file changes when sync() writes a temporary file and
// renames it over the old one, which is what makes a kill harmless.
//
// The test binary is its own writer: started with "--writer FILE" it loops
// load, save the other content, sync, until it is killed ("--once": one round).
#include "testutil.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtTest/QtTest>

namespace {

const QByteArray password = QByteArrayLiteral("crash-test");
constexpr int sectionCount = 200;
constexpr int paramCount = 100; // 20,000 keys, about 340 kB of INI text
constexpr int maxKills = 100;
constexpr qint64 budgetMs = 20000;
const QString isProtected = u"protected"_s;

// Every value by key path, and "#name" for each protected section or parameter.
using Content = QMap<QString, QString>;

// Generations A and B differ in every value and in what is protected:
// sections 0-19 in A, 10-29 in B; k000 of every other section is a protected
// parameter. "meta/generation" names the content and lives in a protected section.
Content expected(QChar generation)
{
    Content content {{u"meta/generation"_s, QString(generation)}, {u"#meta"_s, isProtected}};
    const int first = generation == QLatin1Char('A') ? 0 : 10;
    for (int s = 0; s < sectionCount; ++s) {
        const QString section = u"s%1"_s.arg(s, 3, 10, QLatin1Char('0'));
        const bool whole = s >= first && s < first + 20;
        if (whole)
            content.insert(QLatin1Char('#') + section, isProtected);
        for (int p = 0; p < paramCount; ++p) {
            const QString key = section + u"/k%1"_s.arg(p, 3, 10, QLatin1Char('0'));
            content.insert(key, u"%1-%2-%3"_s.arg(generation).arg(s).arg(p));
            if (p == 0 && !whole)
                content.insert(QLatin1Char('#') + key, isProtected);
        }
    }
    return content;
}

// The tree a writer saves for content, less "meta", which it adds through the
// ordinary operations.
QVariantMap treeOf(const Content &content)
{
    QMap<QString, QVariantMap> params;
    for (auto it = content.cbegin(); it != content.cend(); ++it) {
        if (it.key().startsWith(QLatin1Char('#')) || it.key().startsWith(QLatin1String("meta/")))
            continue;
        QVariantMap node {{u"value"_s, it.value()}};
        if (content.contains(QLatin1Char('#') + it.key()))
            node.insert(u"encrypted-param"_s, true);
        params[it.key().section(QLatin1Char('/'), 0, 0)].insert(
                it.key().section(QLatin1Char('/'), 1), node);
    }
    QVariantMap sections;
    for (auto it = params.cbegin(); it != params.cend(); ++it) {
        QVariantMap node {{u"params"_s, it.value()}};
        if (content.contains(QLatin1Char('#') + it.key()))
            node.insert(u"encrypted-section"_s, true);
        sections.insert(it.key(), node);
    }
    return {{u"sections"_s, sections}};
}

Content flatten(const QVariantMap &tree)
{
    Content content;
    const QVariantMap sections = tree.value(u"sections"_s).toMap();
    for (auto s = sections.cbegin(); s != sections.cend(); ++s) {
        const QVariantMap node = s.value().toMap();
        if (node.value(u"encrypted-section"_s).toBool())
            content.insert(QLatin1Char('#') + s.key(), isProtected);
        const QVariantMap params = node.value(u"params"_s).toMap();
        // A protected section keeps its stored parts in "params"; the order
        // list names what it really holds.
        const QStringList names = node.value(u"params-order"_s).toStringList();
        for (const QString &p : names) {
            const QVariantMap param = params.value(p).toMap();
            if (param.isEmpty())
                continue;
            const QString key = s.key() + QLatin1Char('/') + p;
            content.insert(key, param.value(u"value"_s).toString());
            if (param.value(u"encrypted-param"_s).toBool())
                content.insert(QLatin1Char('#') + key, isProtected);
        }
    }
    return content;
}

// Saves generation's content as a whole tree, then its name through ordinary
// operations on a protected section.
bool write(QSettings *settings, QChar generation)
{
    const QVariantMap tree = treeOf(expected(generation));
    Drovik::saveFile(settings, password, &tree);
    return Drovik::encryptNewParam(settings, u"meta/generation"_s, QString(generation), password)
            && Drovik::encryptSection(settings, u"meta"_s, password);
}

// One round of the writer, put on disk by one sync. "syncing" on stdout tells
// the parent that the file is about to be written; the sync's duration in
// microseconds follows when it is done.
bool writeOtherContent(QSettings *settings)
{
    QVariantMap tree;
    if (!Drovik::getFileData(settings, password, &tree))
        return false;
    const bool isA = flatten(tree).value(u"meta/generation"_s) == QLatin1String("A");
    if (!write(settings, isA ? QLatin1Char('B') : QLatin1Char('A')))
        return false;
    fputs("syncing\n", stdout);
    fflush(stdout);
    QElapsedTimer clock;
    clock.start();
    settings->sync();
    printf("%lld\n", clock.nsecsElapsed() / 1000);
    fflush(stdout);
    return settings->status() == QSettings::NoError;
}

int runWriter(const QString &path, bool once)
{
    QSettings settings(path, QSettings::IniFormat);
    do {
        if (!writeOtherContent(&settings))
            return 2;
    } while (!once);
    return 0;
}

} // namespace

class tst_CrashSafety : public QObject
{
    Q_OBJECT

private slots:
    void killDuringSaves();

private:
    QString contentOnDisk(const QString &path, QChar *generation);
    int runOnce(const QString &path);

    testutil::Files m_copies;
};

// Empty when the file holds generation A or B whole, else what is wrong.
QString tst_CrashSafety::contentOnDisk(const QString &path, QChar *generation)
{
    if (!QFile::exists(path))
        return u"file missing"_s;
    // A copy: a fresh QSettings on the same name would answer from the cache.
    const QString copy = m_copies.copy(path);
    QVariantMap tree;
    bool loaded;
    {
        const QSettings settings(copy, QSettings::IniFormat);
        loaded = Drovik::getFileData(&settings, password, &tree);
    }
    QFile::remove(copy);
    if (!loaded)
        return u"does not load"_s;
    const Content content = flatten(tree);
    static const Content a = expected(QLatin1Char('A'));
    static const Content b = expected(QLatin1Char('B'));
    if (content != a && content != b)
        return u"neither A nor B (%1 entries)"_s.arg(content.size());
    *generation = content == a ? QLatin1Char('A') : QLatin1Char('B');
    return QString();
}

// One undisturbed round; its sync's duration in microseconds, or -1.
int tst_CrashSafety::runOnce(const QString &path)
{
    QProcess writer;
    writer.start(QCoreApplication::applicationFilePath(), {u"--writer"_s, path, u"--once"_s});
    if (!writer.waitForFinished(60000) || writer.exitStatus() != QProcess::NormalExit
        || writer.exitCode() != 0)
        return -1;
    const QList<QByteArray> lines = writer.readAllStandardOutput().trimmed().split('\n');
    return lines.size() == 2 && lines.first() == "syncing" ? lines.last().toInt() : -1;
}

void tst_CrashSafety::killDuringSaves()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid() && m_copies.isValid());
    const QString path = dir.filePath(u"config.ini"_s);
    {
        QSettings settings(path, QSettings::IniFormat);
        QVERIFY(write(&settings, QLatin1Char('A')));
    }

    // One undisturbed round sets the scale of the random kill times.
    QElapsedTimer clock;
    clock.start();
    const int syncUs = runOnce(path);
    QVERIFY2(syncUs >= 0, "the writer failed without being killed");
    const int roundMs = int(qMax<qint64>(clock.elapsed(), 10));
    QChar generation;
    QString problem = contentOnDisk(path, &generation);
    QVERIFY2(problem.isEmpty() && generation == QLatin1Char('B'), qPrintable(problem));

    int kills = 0, changed = 0, broken = 0;
    QChar previous = generation;
    QRandomGenerator random(QRandomGenerator::global()->generate());
    clock.restart();
    while (kills < maxKills && clock.elapsed() < budgetMs) {
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(), {u"--writer"_s, path});
        QVERIFY(writer.waitForStarted());
        // Every other kill aims at the sync itself, where the file is written;
        // the others fall anywhere in the writer's life.
        if (kills % 2) {
            while (!writer.canReadLine() && writer.waitForReadyRead(30000)) { }
            QThread::usleep(random.bounded(syncUs + 1));
        } else {
            writer.waitForFinished(random.bounded(2 * roundMs));
        }
        QVERIFY2(
                writer.state() == QProcess::Running,
                qPrintable(u"the writer stopped by itself, exit code %1"_s.arg(writer.exitCode())));
        writer.kill(); // SIGKILL: no destructor, no final sync
        writer.waitForFinished();
        ++kills;

        problem = contentOnDisk(path, &generation);
        if (!problem.isEmpty()) {
            ++broken;
            qWarning("kill %d: %s", kills, qPrintable(problem));
            continue;
        }
        changed += generation != previous;
        previous = generation;
    }

    // What the last kill left beside the file (a stale lock, a temporary file)
    // may not stop the next writer for good, and its lock goes when it is done.
    // A lock file killed before its owner's process id was written in is empty:
    // QLockFile then waits until it is 30 seconds old.
    const QStringList leftovers = QDir(dir.path()).entryList({u"config.ini.*"_s}, QDir::Files);
    clock.restart();
    QVERIFY2(runOnce(path) >= 0, "a writer after the kills did not finish its round");
    const qint64 lastRoundMs = clock.elapsed();
    problem = contentOnDisk(path, &generation);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(!QFile::exists(path + u".lock"_s));
    qInfo("%d kills while saving 20,000 keys: %d left the other content, %d the same, "
          "%d lost or mixed; left beside the file: %s; the next writer took %lld ms",
          kills, changed, kills - changed - broken, broken,
          leftovers.isEmpty() ? "nothing" : qPrintable(leftovers.join(QLatin1Char(' '))),
          lastRoundMs);
    QCOMPARE(broken, 0);
    // Both outcomes seen: the kills did land before and after commits.
    QVERIFY2(changed > 0 && changed < kills, "the kills never hit a save in progress");
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args.at(1) == QLatin1String("--writer"))
        return runWriter(args.at(2), args.contains(QLatin1String("--once")));
    tst_CrashSafety test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crash_safety.moc"
