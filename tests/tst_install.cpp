#include "testutil.h"

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
// The names of the build under test: the Qt 6 build adds "-qt6" (or "Qt6") to
// each, so that it installs beside the Qt 5 build.
const QString flavourSuffix = QStringLiteral(DROVIK_FLAVOUR_SUFFIX);
const QString libraryName = u"libdrovik"_s + flavourSuffix + u".so.1"_s;
const QString packageName = QStringLiteral(DROVIK_PACKAGE_NAME);
const QString pkgConfigName = u"drovik"_s + flavourSuffix;

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

// An entry of the library build's cache: the consumers must use the same
// compiler and sanitizers, or a sanitized library will not load into them.
QString cacheEntry(const QString &name)
{
    const QString cache = QString::fromUtf8(
            testutil::Files::bytes(QStringLiteral(DROVIK_BINARY_DIR "/CMakeCache.txt")));
    const QRegularExpression line(u"^%1:[A-Z]+=(.*)$"_s.arg(name),
                                  QRegularExpression::MultilineOption);
    return line.match(cache).captured(1).trimmed();
}

} // namespace

class tst_Install : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void noFileSharedBetweenFlavours();
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
    m_prefix = m_dir.filePath(u"prefix"_s);
    const Run install
            = run(u"cmake"_s,
                  {u"--install"_s, QStringLiteral(DROVIK_BINARY_DIR), u"--prefix"_s, m_prefix});
    QVERIFY2(install.ok, qPrintable(install.report));

    QDirIterator it(m_prefix, {libraryName}, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY2(it.hasNext(), qPrintable(libraryName + u" was not installed"_s));
    m_libDir = QFileInfo(it.next()).absolutePath();
    const QString lib = m_prefix + u"/lib"_s;
    QVERIFY2(m_libDir == lib || QFileInfo(m_libDir).absolutePath() == lib,
             qPrintable(u"library installed in %1"_s.arg(m_libDir)));

    m_compiler = cacheEntry(u"CMAKE_CXX_COMPILER"_s);
    if (m_compiler.isEmpty())
        m_compiler = u"c++"_s;
    const QString sanitize = cacheEntry(u"DROVIK_SANITIZE"_s);
    if (!sanitize.isEmpty())
        m_sanitizeFlags << u"-fsanitize="_s + sanitize;
    const QString path = m_runEnvironment.value(u"LD_LIBRARY_PATH"_s);
    m_runEnvironment.insert(u"LD_LIBRARY_PATH"_s,
                            path.isEmpty() ? m_libDir : m_libDir + QLatin1Char(':') + path);
}

// Both builds install into one prefix, so every file of the Qt 6 build carries
// its flavour in its path, and no file of the Qt 5 build does.
void tst_Install::noFileSharedBetweenFlavours()
{
    QStringList files;
    QStringList wrong;
    for (QDirIterator it(m_prefix, QDir::Files | QDir::System, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString file = it.next().mid(m_prefix.size());
        files << file;
        if (file.contains(u"qt6"_s, Qt::CaseInsensitive) != !flavourSuffix.isEmpty())
            wrong << file;
    }
    QVERIFY(files.size() >= 7);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
}

void tst_Install::sharedObject()
{
    const QString library = m_libDir + u"/"_s + libraryName;
    const QFileInfo devLink(library.chopped(2));
    QVERIFY2(devLink.isSymLink(), qPrintable(devLink.filePath() + u" is not a symbolic link"_s));
    QCOMPARE(devLink.canonicalFilePath(), QFileInfo(library).canonicalFilePath());

    const Run dynamic = run(u"readelf"_s, {u"-d"_s, library});
    QVERIFY2(dynamic.ok, qPrintable(dynamic.report));
    const QRegularExpression soname(
            u"\\(SONAME\\).*\\[%1\\]"_s.arg(QRegularExpression::escape(libraryName)));
    QVERIFY2(soname.match(dynamic.out).hasMatch(), qPrintable(dynamic.out));
    // The installed copy must not point back into the build tree.
    QVERIFY2(!dynamic.out.contains(QStringLiteral(DROVIK_BINARY_DIR)), qPrintable(dynamic.out));
}

void tst_Install::onlyPublicApiExported()
{
    const Run nm = run(u"nm"_s,
                       {u"-D"_s, u"--defined-only"_s, u"-C"_s, m_libDir + u"/"_s + libraryName});
    QVERIFY2(nm.ok, qPrintable(nm.report));

    // Lines are "address type name". Skipped: version nodes (A), weak copies of
    // Qt's inline functions that unoptimised builds emit (W, V), unique copies
    // of the standard library's inline variables that Qt 6 headers pull in (u),
    // and instrumentation names (__...) of sanitizer builds.
    QString exported;
    QStringList strays;
    const QRegularExpression symbol(QStringLiteral("^[0-9a-fA-F]*\\s+([A-Za-z])\\s+(.+)$"));
    for (const QString &line : nm.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = symbol.match(line);
        const QString name = m.captured(2);
        exported += name + QLatin1Char('\n');
        if (!m.hasMatch() || u"AWVu"_s.contains(m.captured(1))
            || name.startsWith(QLatin1String("__")))
            continue;
        if (!name.startsWith(QLatin1String("Drovik::"))
            && !name.startsWith(QLatin1String("QBlowfish::")))
            strays << name;
    }
    QVERIFY2(strays.isEmpty(), qPrintable(strays.join(QLatin1Char('\n'))));
    for (const char *wanted :
         {"Drovik::parseSectionParamByKey(", "Drovik::tinyStrictToText(", "Drovik::decryptEncrypt(",
          "Drovik::encryptNewParam(", "Drovik::storedProtection(", "QBlowfish::encrypt(",
          "QBlowfish::hexPi"})
        QVERIFY2(exported.contains(QLatin1String(wanted)), wanted);
    // Internal helpers stay hidden, inline ones included.
    QVERIFY(!exported.contains(QLatin1String("drovik::")));
    QVERIFY(!exported.contains(QLatin1String("SectionBuilder")));
}

void tst_Install::cmakeConsumer()
{
    const QString build = m_dir.filePath(u"cbuild"_s);
    const QString flags = m_sanitizeFlags.join(QLatin1Char(' '));
    const Run configure
            = run(u"cmake"_s,
                  {u"-S"_s, consumerSource, u"-B"_s, build, u"-DCMAKE_PREFIX_PATH="_s + m_prefix,
                   u"-DCMAKE_CXX_COMPILER="_s + m_compiler, u"-DCMAKE_CXX_FLAGS="_s + flags,
                   u"-DDROVIK_PACKAGE="_s + packageName});
    QVERIFY2(configure.ok, qPrintable(configure.report));
    const Run compile = run(u"cmake"_s, {u"--build"_s, build});
    QVERIFY2(compile.ok, qPrintable(compile.report));

    const QString consumer = build + u"/consumer"_s;
    const Run dynamic = run(u"readelf"_s, {u"-d"_s, consumer});
    const QRegularExpression needed(
            u"\\(NEEDED\\).*\\[%1\\]"_s.arg(QRegularExpression::escape(libraryName)));
    QVERIFY2(needed.match(dynamic.out).hasMatch(), qPrintable(dynamic.report));

    const Run result = run(consumer, {}, m_runEnvironment);
    QVERIFY2(result.ok, qPrintable(result.report));
    QCOMPARE(result.out.trimmed(), u"OK"_s);
}

void tst_Install::pkgConfigConsumer()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"PKG_CONFIG_PATH"_s, m_libDir + u"/pkgconfig"_s);
    // Qt Core comes in through the file's Requires line.
    const Run pkgConfig
            = run(u"pkg-config"_s, {u"--cflags"_s, u"--libs"_s, pkgConfigName}, environment);
    QVERIFY2(pkgConfig.ok, qPrintable(pkgConfig.report));

    // Qt is built to need position-independent code in its users.
    const QString binary = m_dir.filePath(u"consumer-pc"_s);
    const QStringList arguments = QStringList {u"-std=c++17"_s, u"-fPIC"_s} + m_sanitizeFlags
            + QStringList {consumerSource + u"/main.cpp"_s, u"-o"_s, binary}
            + QProcess::splitCommand(pkgConfig.out.trimmed());
    const Run compile = run(m_compiler, arguments);
    QVERIFY2(compile.ok, qPrintable(compile.report));

    const Run result = run(binary, {}, m_runEnvironment);
    QVERIFY2(result.ok, qPrintable(result.report));
    QCOMPARE(result.out.trimmed(), u"OK"_s);
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
