// Kills a process at random moments while it saves through the library, and
// checks after every kill that the file holds one whole content or the other.
// The library only refills the QSettings object; sync() writes a temporary file
// and renames it over the old one, which is what makes a kill harmless. The
// check is kept cheap (a few thousand keys, a few seconds) and asserts only that
// nothing is ever lost or mixed, never how many kills hit a save.
//
// The test binary is its own writer: started with "--writer FILE" it loops
// load, save the other content, sync, until it is killed.
#include "testutil.h"

#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtTest/QtTest>

namespace {

const QByteArray password = QByteArrayLiteral("crash-test");

// Generation A or B: every value names it; the first sections are protected
// whole, the others each hold one protected parameter.
QVariantMap content(char generation)
{
    QVariantMap sections, params, plain;
    for (int s = 0; s < 40; ++s) {
        for (int p = 0; p < 50; ++p) {
            const QString key = u"s%1/k%2"_s.arg(s).arg(p);
            (s < 10           ? sections
                     : p == 0 ? params
                              : plain)
                    .insert(key, u"%1-%2-%3"_s.arg(generation).arg(s).arg(p));
        }
    }
    using namespace testutil;
    return makeTree(sections, ProtectedSections,
                    makeTree(params, ProtectedParams, makeTree(plain, Plain)));
}

// Every value by key path, as loaded; empty when the file does not load.
QMap<QString, QString> values(const QSettings &settings)
{
    QMap<QString, QString> found;
    QVariantMap tree;
    if (!Drovik::getFileData(&settings, password, &tree))
        return found;
    const QVariantMap sections = tree.value(u"sections"_s).toMap();
    for (auto s = sections.cbegin(); s != sections.cend(); ++s) {
        const QVariantMap params = s.value().toMap().value(u"params"_s).toMap();
        for (auto p = params.cbegin(); p != params.cend(); ++p) {
            if (!p.key().startsWith(QLatin1String("packed-")))
                found.insert(s.key() + QLatin1Char('/') + p.key(),
                             p.value().toMap().value(u"value"_s).toString());
        }
    }
    return found;
}

int runWriter(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    for (;;) {
        const bool isA = Drovik::value(&settings, u"s0/k0"_s, QVariant(), password)
                                 .toString()
                                 .startsWith(QLatin1Char('A'));
        const QVariantMap tree = content(isA ? 'B' : 'A');
        Drovik::saveFile(&settings, password, &tree);
        fputs("syncing\n", stdout); // the file is about to be written
        fflush(stdout);
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
    QMap<QString, QString> a, b;
    {
        a = values(QSettings(files.copy(path), QSettings::IniFormat));
        b = values(QSettings(files.save(content('B'), password), QSettings::IniFormat));
    }
    QCOMPARE(a.size(), 2000);

    QRandomGenerator random(QRandomGenerator::global()->generate());
    for (int kill = 0; kill < 12; ++kill) {
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(), {u"--writer"_s, path});
        QVERIFY(writer.waitForStarted());
        // Every other kill aims at a sync, where the file is written.
        for (int lines = kill % 2 ? 1 + random.bounded(3) : 0; lines > 0; --lines) {
            while (!writer.canReadLine() && writer.waitForReadyRead(30000)) { }
            writer.readLine();
        }
        QThread::msleep(random.bounded(40));
        writer.kill(); // SIGKILL: no destructor, no final sync
        writer.waitForFinished();

        const auto found = values(QSettings(files.copy(path), QSettings::IniFormat));
        QVERIFY2(found == a || found == b,
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
