// Kills a process at random moments while it saves through the library: after
// every kill the file must load as one whole content or the other, never a mix.
// The test binary is its own writer: "--writer FILE" saves two contents in turn.
#include "testutil.h"

#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtTest/QtTest>

#include <cstdio>

namespace {

const QByteArray password = QByteArrayLiteral("crash-test");

// "sS/kK" = "G-S-K" for the sections from..to-1 of 50 values each: every value
// names its generation G, so a file mixing two saves cannot match either.
QVariantMap values(char generation, int from, int to)
{
    QVariantMap values;
    for (int s = from; s < to; ++s) {
        for (int k = 0; k < 50; ++k)
            values.insert(u"s%1/k%2"_s.arg(s).arg(k), u"%1-%2-%3"_s.arg(generation).arg(s).arg(k));
    }
    return values;
}

// 2,000 values in 40 sections, the first ten protected.
QVariantMap content(char generation)
{
    using namespace testutil;
    return makeTree(values(generation, 0, 10), ProtectedSections,
                    makeTree(values(generation, 10, 40), Plain));
}

// Every value by key path as a fresh reader loads the file; empty when it does
// not load. Stored cipher keys, which change at every save, are left out.
QVariantMap loaded(testutil::Files &files, const QString &path)
{
    const QSettings settings(files.copy(path), QSettings::IniFormat);
    QVariantMap tree, found;
    if (!Drovik::getFileData(&settings, password, &tree))
        return found;
    const QVariantMap sections = tree.value(u"sections"_s).toMap();
    for (auto s = sections.cbegin(); s != sections.cend(); ++s) {
        const QVariantMap params = testutil::paramsOf(tree, s.key());
        for (auto p = params.cbegin(); p != params.cend(); ++p) {
            if (!p.key().startsWith(QLatin1String("packed-")))
                found.insert(s.key() + QLatin1Char('/') + p.key(),
                             p.value().toMap().value(u"value"_s));
        }
    }
    return found;
}

int runWriter(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    for (int round = 0;; ++round) {
        const QVariantMap tree = content(round % 2 ? 'A' : 'B');
        Drovik::saveFile(&settings, password, &tree);
        std::puts("syncing"); // the file is about to be written
        std::fflush(stdout);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return 2;
    }
}

} // namespace

class tst_CrashSafety : public QObject
{
    Q_OBJECT

private slots:
    void killDuringSaves();
};

void tst_CrashSafety::killDuringSaves()
{
    testutil::Files files;
    const QString path = files.save(content('A'), password);
    QCOMPARE(loaded(files, path), values('A', 0, 40));

    QRandomGenerator random(QRandomGenerator::global()->generate());
    for (int kill = 0; kill < 12; ++kill) {
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(), {u"--writer"_s, path});
        QVERIFY(writer.waitForStarted(60000));
        // Every other kill aims at a sync, where the file is written.
        for (int lines = kill % 2 ? 1 + random.bounded(3) : 0; lines > 0; --lines) {
            while (!writer.canReadLine() && writer.waitForReadyRead(60000)) { }
            writer.readLine();
        }
        QThread::msleep(random.bounded(40));
        writer.kill(); // SIGKILL: no destructor, no final sync
        QVERIFY(writer.waitForFinished(60000));
        // A kill just after QSettings created its lock file can leave it empty,
        // and the next writer would wait out QLockFile's 30 s stale time.
        QFile::remove(path + u".lock"_s);

        const QVariantMap found = loaded(files, path);
        QVERIFY2(found == values('A', 0, 40) || found == values('B', 0, 40),
                 qPrintable(u"kill %1 left %2 values of neither content"_s.arg(kill).arg(
                         found.size())));
    }
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args.at(1) == QLatin1String("--writer"))
        return runWriter(args.at(2));
    tst_CrashSafety test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crash_safety.moc"
