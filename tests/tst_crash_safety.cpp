// Kills a process at random moments while it saves through the library: after
// every kill the file must hold the exact bytes of one whole save, never a mix.
// The test binary is its own writer: "--writer FILE" saves two contents in turn.
#include "testutil.h"

#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtTest/QtTest>

#include <cstdio>

namespace {

// 2,000 values in 40 sections; every value names its generation. Plain, so
// that each content has one spelling on disk to compare with.
QVariantMap content(char generation)
{
    QVariantMap values;
    for (int s = 0; s < 40; ++s) {
        for (int k = 0; k < 50; ++k)
            values.insert(u"s%1/k%2"_s.arg(s).arg(k), u"%1-%2-%3"_s.arg(generation).arg(s).arg(k));
    }
    return testutil::makeTree(values, testutil::Plain);
}

int runWriter(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    for (int round = 0;; ++round) {
        const QVariantMap tree = content(round % 2 ? 'A' : 'B');
        Drovik::saveFile(&settings, QByteArray(), &tree);
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
    const QString path = files.save(content('A'), QByteArray());
    const QByteArray a = files.bytes(path);
    const QByteArray b = files.bytes(files.save(content('B'), QByteArray()));
    QVERIFY(a.contains("=A-39-49") && b.contains("=B-39-49"));

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

        const QByteArray found = files.bytes(path);
        QVERIFY2(found == a || found == b,
                 qPrintable(u"kill %1 left %2 bytes of neither content"_s.arg(kill).arg(
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
