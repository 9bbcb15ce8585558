#include <QtCore/QDirIterator>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

namespace {

const int buildTimeoutMs = 5 * 60 * 1000;
// Not part of the main build: it sees the library only as installed.
const QString consumerSource = QStringLiteral(DROVIK_SOURCE_DIR "/tests/consumer");

struct Run
{
    bool ok = false;
    QString out;
    QString report; // command, exit code and both streams, for failure messages
};

Run run(const QString &program, const QStringList &arguments,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool finished = process.waitForStarted() && process.waitForFinished(buildTimeoutMs);
    Run result;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    result.report = QStringLiteral("%1 %2\nexit %3 %4\n--- stdout:\n%5\n--- stderr:\n%6")
                            .arg(program, arguments.join(QLatin1Char(' ')))
                            .arg(process.exitCode())
                            .arg(process.errorString(), result.out,
                                 QString::fromLocal8Bit(process.readAllStandardError()));
    return result;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An entry of the library build's cache: the consumers must use the same
// compiler and sanitizers, or a sanitized library will not load into them.
QString cacheEntry(const QString &name)
{
    const QString cache
            = QString::fromUtf8(fileBytes(QStringLiteral(DROVIK_BINARY_DIR "/CMakeCache.txt")));
    const QRegularExpression line(QStringLiteral("^%1:[A-Z]+=(.*)$").arg(name),
                                  QRegularExpression::MultilineOption);
    return line.match(cache).captured(1).trimmed();
}

} // namespace

class tst_Install : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installedFiles_data();
    void installedFiles();
    void sharedObject();
    void onlyPublicApiExported();
    void cmakeConsumer();
    void pkgConfigConsumer();

private:
    QTemporaryDir m_dir;
    QString m_prefix;
    QString m_libDir;
    QString m_compiler;
    QStringList m_sanitizeFlags;
    QProcessEnvironment m_runEnvironment = QProcessEnvironment::systemEnvironment();
};

void tst_Install::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_prefix = m_dir.filePath(QStringLiteral("prefix"));
    const Run install = run(QStringLiteral("cmake"),
                            {QStringLiteral("--install"), QStringLiteral(DROVIK_BINARY_DIR),
                             QStringLiteral("--prefix"), m_prefix});
    QVERIFY2(install.ok, qPrintable(install.report));

    QDirIterator it(m_prefix, {QStringLiteral("libdrovik.so.1")}, QDir::Files,
                    QDirIterator::Subdirectories);
    QVERIFY2(it.hasNext(), "libdrovik.so.1 was not installed");
    m_libDir = QFileInfo(it.next()).absolutePath();
    const QString lib = m_prefix + QStringLiteral("/lib");
    QVERIFY2(m_libDir == lib || QFileInfo(m_libDir).absolutePath() == lib,
             qPrintable(QStringLiteral("library installed in %1").arg(m_libDir)));

    m_compiler = cacheEntry(QStringLiteral("CMAKE_CXX_COMPILER"));
    if (m_compiler.isEmpty())
        m_compiler = QStringLiteral("c++");
    const QString sanitize = cacheEntry(QStringLiteral("DROVIK_SANITIZE"));
    if (!sanitize.isEmpty())
        m_sanitizeFlags << QStringLiteral("-fsanitize=") + sanitize;
    const QString path = m_runEnvironment.value(QStringLiteral("LD_LIBRARY_PATH"));
    m_runEnvironment.insert(QStringLiteral("LD_LIBRARY_PATH"),
                            path.isEmpty() ? m_libDir : m_libDir + QLatin1Char(':') + path);
}

void tst_Install::installedFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("source"); // empty: no copy to compare with

    const QString include = m_prefix + QStringLiteral("/include/drovik/");
    const QString sourceInclude = QStringLiteral(DROVIK_SOURCE_DIR "/include/drovik/");
    const QString cmake = m_libDir + QStringLiteral("/cmake/Drovik/");
    // clang-format off
    QTest::newRow("drovik.h")        << include + QStringLiteral("drovik.h")        << sourceInclude + QStringLiteral("drovik.h");
    QTest::newRow("blowfish.h")      << include + QStringLiteral("blowfish.h")      << sourceInclude + QStringLiteral("blowfish.h");
    QTest::newRow("drovik_export.h") << include + QStringLiteral("drovik_export.h") << QStringLiteral(DROVIK_BINARY_DIR "/include/drovik/drovik_export.h");
    QTest::newRow("cmake-config")    << cmake + QStringLiteral("DrovikConfig.cmake")        << QString();
    QTest::newRow("cmake-version")   << cmake + QStringLiteral("DrovikConfigVersion.cmake") << QString();
    QTest::newRow("cmake-targets")   << cmake + QStringLiteral("DrovikTargets.cmake")       << QString();
    QTest::newRow("pkg-config")      << m_libDir + QStringLiteral("/pkgconfig/drovik.pc")   << QString();
    // clang-format on
}

void tst_Install::installedFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, source);

    const QByteArray installed = fileBytes(path);
    QVERIFY2(!installed.isEmpty(), qPrintable(path + QStringLiteral(" missing or empty")));
    if (!source.isEmpty())
        QCOMPARE(installed, fileBytes(source));
}

void tst_Install::sharedObject()
{
    const QString library = m_libDir + QStringLiteral("/libdrovik.so.1");
    const QFileInfo devLink(m_libDir + QStringLiteral("/libdrovik.so"));
    QVERIFY2(devLink.isSymLink(), "libdrovik.so is not a symbolic link");
    QCOMPARE(devLink.canonicalFilePath(), QFileInfo(library).canonicalFilePath());

    const Run dynamic = run(QStringLiteral("readelf"), {QStringLiteral("-d"), library});
    QVERIFY2(dynamic.ok, qPrintable(dynamic.report));
    const QRegularExpression soname(QStringLiteral("\\(SONAME\\).*\\[libdrovik\\.so\\.1\\]"));
    QVERIFY2(soname.match(dynamic.out).hasMatch(), qPrintable(dynamic.out));
    // The installed copy must not point back into the build tree.
    QVERIFY2(!dynamic.out.contains(QStringLiteral(DROVIK_BINARY_DIR)), qPrintable(dynamic.out));
}

void tst_Install::onlyPublicApiExported()
{
    const Run nm = run(QStringLiteral("nm"),
                       {QStringLiteral("-D"), QStringLiteral("--defined-only"),
                        QStringLiteral("-C"), m_libDir + QStringLiteral("/libdrovik.so.1")});
    QVERIFY2(nm.ok, qPrintable(nm.report));

    // Lines are "address type name". Skipped: version nodes (A), weak copies of
    // Qt's inline functions that unoptimised builds emit (W, V), and
    // instrumentation names (__...) of sanitizer builds.
    QString exported;
    QStringList strays;
    const QRegularExpression symbol(QStringLiteral("^[0-9a-fA-F]*\\s+([A-Za-z])\\s+(.+)$"));
    for (const QString &line : nm.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = symbol.match(line);
        const QString name = m.captured(2);
        exported += name + QLatin1Char('\n');
        if (!m.hasMatch() || QStringLiteral("AWV").contains(m.captured(1))
            || name.startsWith(QLatin1String("__")))
            continue;
        if (!name.startsWith(QLatin1String("Drovik::"))
            && !name.startsWith(QLatin1String("QBlowfish::")))
            strays << name;
    }
    QVERIFY2(strays.isEmpty(), qPrintable(strays.join(QLatin1Char('\n'))));
    for (const char *wanted :
         {"Drovik::parseSectionParamByKey(", "Drovik::tinyStrictToText(", "Drovik::decryptEncrypt(",
          "Drovik::encryptNewParam(", "QBlowfish::encrypt(", "QBlowfish::hexPi"})
        QVERIFY2(exported.contains(QLatin1String(wanted)), wanted);
    // Internal helpers stay hidden, inline ones included.
    QVERIFY(!exported.contains(QLatin1String("drovik::")));
    QVERIFY(!exported.contains(QLatin1String("SectionBuilder")));
}

void tst_Install::cmakeConsumer()
{
    const QString build = m_dir.filePath(QStringLiteral("cbuild"));
    const QString flags = m_sanitizeFlags.join(QLatin1Char(' '));
    const Run configure = run(QStringLiteral("cmake"),
                              {QStringLiteral("-S"), consumerSource, QStringLiteral("-B"), build,
                               QStringLiteral("-DCMAKE_PREFIX_PATH=") + m_prefix,
                               QStringLiteral("-DCMAKE_CXX_COMPILER=") + m_compiler,
                               QStringLiteral("-DCMAKE_CXX_FLAGS=") + flags});
    QVERIFY2(configure.ok, qPrintable(configure.report));
    const Run compile = run(QStringLiteral("cmake"), {QStringLiteral("--build"), build});
    QVERIFY2(compile.ok, qPrintable(compile.report));

    const QString consumer = build + QStringLiteral("/consumer");
    const Run dynamic = run(QStringLiteral("readelf"), {QStringLiteral("-d"), consumer});
    const QRegularExpression needed(QStringLiteral("\\(NEEDED\\).*\\[libdrovik\\.so\\.1\\]"));
    QVERIFY2(needed.match(dynamic.out).hasMatch(), qPrintable(dynamic.report));

    const Run result = run(consumer, {}, m_runEnvironment);
    QVERIFY2(result.ok, qPrintable(result.report));
    QCOMPARE(result.out.trimmed(), QStringLiteral("OK"));
}

void tst_Install::pkgConfigConsumer()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PKG_CONFIG_PATH"), m_libDir + QStringLiteral("/pkgconfig"));
    // Qt5Core comes in through the file's Requires line.
    const Run pkgConfig
            = run(QStringLiteral("pkg-config"),
                  {QStringLiteral("--cflags"), QStringLiteral("--libs"), QStringLiteral("drovik")},
                  environment);
    QVERIFY2(pkgConfig.ok, qPrintable(pkgConfig.report));

    // Qt is built to need position-independent code in its users.
    const QString binary = m_dir.filePath(QStringLiteral("consumer-pc"));
    const QStringList arguments
            = QStringList {QStringLiteral("-std=c++17"), QStringLiteral("-fPIC")} + m_sanitizeFlags
            + QStringList {consumerSource + QStringLiteral("/main.cpp"), QStringLiteral("-o"),
                           binary}
            + QProcess::splitCommand(pkgConfig.out.trimmed());
    const Run compile = run(m_compiler, arguments);
    QVERIFY2(compile.ok, qPrintable(compile.report));

    const Run result = run(binary, {}, m_runEnvironment);
    QVERIFY2(result.ok, qPrintable(result.report));
    QCOMPARE(result.out.trimmed(), QStringLiteral("OK"));
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
