// Installs the build into a fresh prefix and uses it from there, as a program
// outside this tree would: the files of each Qt flavour, the symbols the
// library exports, and consumers built through CMake and through pkg-config.
#include "testutil.h"

#include <QtCore/QDirIterator>
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
#include <QtTest/QtTest>

namespace {

// The Qt 6 build adds "-qt6" (or "Qt6") to each name, so that it installs
// beside the Qt 5 build.
const QString flavourSuffix = QStringLiteral(DROVIK_FLAVOUR_SUFFIX);
const QString libraryName = u"libdrovik"_s + flavourSuffix + u".so.1"_s;
// Not part of the main build: it sees the library only as installed.
const QString consumerSource = QStringLiteral(DROVIK_SOURCE_DIR "/tests/consumer");
// The library's own compiler and sanitizers: a sanitized library does not load
// into a program built without them.
const QString compiler = QStringLiteral(DROVIK_CXX_COMPILER);
const QString sanitize = QStringLiteral(DROVIK_SANITIZE);
const QString sanitizeFlag = sanitize.isEmpty() ? QString() : u"-fsanitize="_s + sanitize;

// What program prints on its standard output; its errors go to the test's log.
QString output(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.waitForFinished(5 * 60 * 1000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

} // namespace

class tst_Install : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void noFileSharedBetweenFlavours();
    void onlyPublicApiExported();
    void cmakeConsumer();
    void pkgConfigConsumer();

private:
    void checkConsumer(const QString &binary);

    QTemporaryDir m_dir;
    QString m_prefix;
    QString m_library;
    QString m_libDir;
};

void tst_Install::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_prefix = m_dir.filePath(u"prefix"_s);
    QCOMPARE(QProcess::execute(
                     u"cmake"_s,
                     {u"--install"_s, QStringLiteral(DROVIK_BINARY_DIR), u"--prefix"_s, m_prefix}),
             0);
    QDirIterator it(m_prefix, {libraryName}, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY2(it.hasNext(), qPrintable(libraryName + u" was not installed"_s));
    m_library = it.next();
    m_libDir = QFileInfo(m_library).absolutePath();
    // lib/ or its multiarch subdirectory
    const QString lib = m_prefix + u"/lib"_s;
    QVERIFY2(m_libDir == lib || QFileInfo(m_libDir).absolutePath() == lib, qPrintable(m_libDir));
    // What pkg-config and the consumers started from here find first.
    qputenv("PKG_CONFIG_PATH", QFile::encodeName(m_libDir + u"/pkgconfig"_s));
    const QByteArray libraryPath = qgetenv("LD_LIBRARY_PATH");
    qputenv("LD_LIBRARY_PATH",
            QFile::encodeName(m_libDir) + (libraryPath.isEmpty() ? "" : ':' + libraryPath));
}

// Both builds install into one prefix, so every file of the Qt 6 build carries
// its flavour in its path, and no file of the Qt 5 build does.
void tst_Install::noFileSharedBetweenFlavours()
{
    QStringList wrong;
    for (QDirIterator it(m_prefix, QDir::Files | QDir::System, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString file = it.next().mid(m_prefix.size());
        if (file.contains(u"qt6"_s, Qt::CaseInsensitive) == flavourSuffix.isEmpty())
            wrong << file;
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u'\n')));
}

void tst_Install::onlyPublicApiExported()
{
    const QString nm = output(u"nm"_s, {u"-D"_s, u"--defined-only"_s, u"-C"_s, m_library});
    QVERIFY2(nm.contains(u"Drovik::encryptFile("_s), qPrintable(nm));
    // Lines are "address type name". Also allowed: version nodes (A), weak
    // copies of Qt's inline functions that unoptimised builds emit (W, V), unique
    // copies of the standard library's inline variables that Qt 6 headers pull
    // in (u), and instrumentation names (__...) of sanitizer builds.
    const QRegularExpression allowed(u"^\\S*\\s+([AWVu]\\s|\\S\\s+(Drovik::|QBlowfish::|__))"_s);
    QStringList strays;
    for (const QString &line : nm.split(u'\n', Qt::SkipEmptyParts)) {
        if (!allowed.match(line).hasMatch())
            strays << line;
    }
    QVERIFY2(strays.isEmpty(), qPrintable(strays.join(u'\n')));
    // Internal helpers stay hidden, inline ones included.
    QVERIFY(!nm.contains(u"drovik::"_s));
}

void tst_Install::cmakeConsumer()
{
    const QString build = m_dir.filePath(u"cbuild"_s);
    QCOMPARE(QProcess::execute(
                     u"cmake"_s,
                     {u"-S"_s, consumerSource, u"-B"_s, build, u"-DCMAKE_PREFIX_PATH="_s + m_prefix,
                      u"-DCMAKE_CXX_COMPILER="_s + compiler, u"-DCMAKE_CXX_FLAGS="_s + sanitizeFlag,
                      u"-DDROVIK_PACKAGE="_s + QStringLiteral(DROVIK_PACKAGE_NAME)}),
             0);
    QCOMPARE(QProcess::execute(u"cmake"_s, {u"--build"_s, build}), 0);
    checkConsumer(build + u"/consumer"_s);
}

void tst_Install::pkgConfigConsumer()
{
    // Qt Core comes in through the file's Requires line.
    const QString flags
            = output(u"pkg-config"_s, {u"--cflags"_s, u"--libs"_s, u"drovik"_s + flavourSuffix});
    QVERIFY(!flags.trimmed().isEmpty());
    // Qt is built to need position-independent code in its users.
    const QString binary = m_dir.filePath(u"consumer-pc"_s);
    QCOMPARE(QProcess::execute(compiler,
                               QStringList {u"-std=c++17"_s, u"-fPIC"_s,
                                            consumerSource + u"/main.cpp"_s, u"-o"_s, binary}
                                       + QProcess::splitCommand(sanitizeFlag + u' ' + flags)),
             0);
    checkConsumer(binary);
}

// The consumer needs the library of this flavour by its SONAME, and runs
// against the installed copy.
void tst_Install::checkConsumer(const QString &binary)
{
    const QString dynamic = output(u"readelf"_s, {u"-d"_s, binary});
    QVERIFY2(dynamic.contains(u"(NEEDED)"_s) && dynamic.contains(u'[' + libraryName + u']'),
             qPrintable(dynamic));
    QCOMPARE(output(binary, {}), u"OK\n"_s);
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
