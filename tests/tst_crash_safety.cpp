// Kills a process at random moments while it saves a large file through the
// library, and checks after every kill that the file holds one whole content
// or the other: never a mix, never a truncation.
//
// The library only clears and refills the QSettings object in memory; the file
// changes when QSettings::sync() runs. With atomic sync (the default), sync()
// writes the new text into a temporary file in the same directory, flushes it
// to disk and renames it over the old file (QSaveFile); the rename replaces the
// directory entry in one step. So a kill leaves the old or the new file, and at
// worst a stray temporary file and a stale lock file, which the next writer
// recognises as stale because its process is gone.
//
// The test binary is its own writer: started with "--writer FILE" it loops
// load, save the other content, sync, until it is killed ("--once": one round).
#include <drovik/drovik.h>

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtCore/QSettings>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

namespace {

const QByteArray password = QByteArrayLiteral("crash-test");
constexpr int sectionCount = 200;
constexpr int paramCount = 100; // 20,000 keys, about 340 kB of INI text
constexpr int maxKills = 100;
constexpr qint64 budgetMs = 20000;

using Content = QMap<QString, QString>;

QString sectionName(int s)
{
    return QStringLiteral("s%1").arg(s, 3, 10, QLatin1Char('0'));
}

QString paramName(int p)
{
    return QStringLiteral("k%1").arg(p, 3, 10, QLatin1Char('0'));
}

// A and B differ in every value and in which parts are protected: sections
// 0-19 in A, 10-29 in B; k000 of every other section is a protected parameter.
// "meta/generation" names the content and lives in a protected section.
bool sectionProtected(QChar generation, int s)
{
    const int first = generation == QLatin1Char('A') ? 0 : 10;
    return s >= first && s < first + 20;
}

QVariantMap contentTree(QChar generation)
{
    const QString key = QStringLiteral("value");
    QVariantMap sections;
    for (int s = 0; s < sectionCount; ++s) {
        QVariantMap params;
        for (int p = 0; p < paramCount; ++p) {
            QVariantMap node {{key, QStringLiteral("%1-%2-%3").arg(generation).arg(s).arg(p)}};
            if (p == 0 && !sectionProtected(generation, s))
                node.insert(QStringLiteral("encrypted-param"), true);
            params.insert(paramName(p), node);
        }
        QVariantMap node {{QStringLiteral("params"), params}};
        if (sectionProtected(generation, s))
            node.insert(QStringLiteral("encrypted-section"), true);
        sections.insert(sectionName(s), node);
    }
    return {{QStringLiteral("sections"), sections}};
}

// The same content as the reader should see it, built independently of trees.
Content expected(QChar generation)
{
    Content content {{QStringLiteral("meta/generation"), QString(generation)},
                     {QStringLiteral("#meta"), QStringLiteral("protected")}};
    for (int s = 0; s < sectionCount; ++s) {
        const bool whole = sectionProtected(generation, s);
        if (whole)
            content.insert(QLatin1Char('#') + sectionName(s), QStringLiteral("protected"));
        for (int p = 0; p < paramCount; ++p) {
            const QString key = sectionName(s) + QLatin1Char('/') + paramName(p);
            content.insert(key, QStringLiteral("%1-%2-%3").arg(generation).arg(s).arg(p));
            if (p == 0 && !whole)
                content.insert(QLatin1Char('#') + key, QStringLiteral("protected"));
        }
    }
    return content;
}

Content flatten(const QVariantMap &tree)
{
    Content content;
    const QVariantMap sections = tree.value(QStringLiteral("sections")).toMap();
    for (auto s = sections.cbegin(); s != sections.cend(); ++s) {
        const QVariantMap node = s.value().toMap();
        if (node.value(QStringLiteral("encrypted-section")).toBool())
            content.insert(QLatin1Char('#') + s.key(), QStringLiteral("protected"));
        const QVariantMap params = node.value(QStringLiteral("params")).toMap();
        // A protected section keeps its stored parts in "params"; the order
        // list names what it really holds.
        const QStringList names = node.value(QStringLiteral("params-order")).toStringList();
        for (const QString &p : names) {
            const QVariantMap param = params.value(p).toMap();
            if (param.isEmpty())
                continue;
            const QString key = s.key() + QLatin1Char('/') + p;
            content.insert(key, param.value(QStringLiteral("value")).toString());
            if (param.value(QStringLiteral("encrypted-param")).toBool())
                content.insert(QLatin1Char('#') + key, QStringLiteral("protected"));
        }
    }
    return content;
}

// One round of the writer: the other content as a whole tree, then the
// generation through ordinary operations on a protected section, then one
// sync that puts all of it on disk together. "syncing" on stdout tells the
// parent that the file is about to be written; the sync's duration in
// microseconds follows when it is done.
bool writeOtherContent(QSettings *settings)
{
    QVariantMap tree;
    if (!Drovik::getFileData(settings, password, &tree))
        return false;
    const bool isA = flatten(tree).value(QStringLiteral("meta/generation")) == QLatin1String("A");
    const QChar next = isA ? QLatin1Char('B') : QLatin1Char('A');
    const QVariantMap nextTree = contentTree(next);
    Drovik::saveFile(settings, password, &nextTree);
    if (!Drovik::encryptNewParam(settings, QStringLiteral("meta/generation"), QString(next),
                                 password)
        || !Drovik::encryptSection(settings, QStringLiteral("meta"), password))
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
    // Reads what the file holds through a copy: a fresh QSettings on the same
    // name would answer from the per-process cache.
    QString contentOnDisk(const QString &path, QChar *generation);
    // One undisturbed round; its sync's duration in microseconds, or -1.
    int runOnce(const QString &path, int timeoutMs);

    QTemporaryDir m_copies;
    int m_copyCount = 0;
};

QString tst_CrashSafety::contentOnDisk(const QString &path, QChar *generation)
{
    const QString copy = m_copies.filePath(QStringLiteral("copy%1.ini").arg(++m_copyCount));
    if (!QFile::copy(path, copy))
        return QStringLiteral("file missing");
    QVariantMap tree;
    bool loaded;
    {
        const QSettings settings(copy, QSettings::IniFormat);
        loaded = Drovik::getFileData(&settings, password, &tree);
    }
    QFile::remove(copy);
    if (!loaded)
        return QStringLiteral("does not load");
    const Content content = flatten(tree);
    static const Content a = expected(QLatin1Char('A'));
    static const Content b = expected(QLatin1Char('B'));
    for (QChar g : {QLatin1Char('A'), QLatin1Char('B')}) {
        if (content == (g == QLatin1Char('A') ? a : b)) {
            *generation = g;
            return QString();
        }
    }
    return QStringLiteral("neither A nor B (%1 entries)").arg(content.size());
}

int tst_CrashSafety::runOnce(const QString &path, int timeoutMs)
{
    QProcess writer;
    writer.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--writer"), path, QStringLiteral("--once")});
    if (!writer.waitForFinished(timeoutMs) || writer.exitStatus() != QProcess::NormalExit
        || writer.exitCode() != 0)
        return -1;
    const QList<QByteArray> lines = writer.readAllStandardOutput().trimmed().split('\n');
    return lines.size() == 2 && lines.first() == "syncing" ? lines.last().toInt() : -1;
}

void tst_CrashSafety::killDuringSaves()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid() && m_copies.isValid());
    const QString path = dir.filePath(QStringLiteral("config.ini"));
    {
        QSettings settings(path, QSettings::IniFormat);
        const QVariantMap tree = contentTree(QLatin1Char('A'));
        Drovik::saveFile(&settings, password, &tree);
        QVERIFY(Drovik::encryptNewParam(&settings, QStringLiteral("meta/generation"),
                                        QStringLiteral("A"), password));
        QVERIFY(Drovik::encryptSection(&settings, QStringLiteral("meta"), password));
    }

    // One undisturbed round sets the scale of the random kill times.
    QElapsedTimer clock;
    clock.start();
    const int syncUs = runOnce(path, 60000);
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
        writer.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--writer"), path});
        QVERIFY(writer.waitForStarted());
        // Every other kill aims at the sync itself, where the file is written;
        // the others fall anywhere in the writer's life.
        if (kills % 2) {
            while (!writer.canReadLine() && writer.waitForReadyRead(30000)) { }
            QThread::usleep(random.bounded(syncUs + 1));
        } else {
            writer.waitForFinished(random.bounded(2 * roundMs));
        }
        QVERIFY2(writer.state() == QProcess::Running,
                 qPrintable(QStringLiteral("the writer stopped by itself, exit code %1")
                                    .arg(writer.exitCode())));
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

    // What the last kill left beside the file: a stale lock if it hit a sync,
    // and a temporary file only if it hit the instant before the rename.
    const QStringList leftovers
            = QDir(dir.path()).entryList({QStringLiteral("config.ini.*")}, QDir::Files);
    // Neither may stop the next writer for good, and its lock goes when it is
    // done. A lock file killed before its owner's process id was written in is
    // empty: QLockFile then waits until it is 30 seconds old.
    clock.restart();
    QVERIFY2(runOnce(path, 60000) >= 0, "a writer after the kills did not finish its round");
    const qint64 lastRoundMs = clock.elapsed();
    problem = contentOnDisk(path, &generation);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(!QFile::exists(path + QStringLiteral(".lock")));
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
