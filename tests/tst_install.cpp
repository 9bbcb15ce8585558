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

// Runs program to its end; true when it exits 0. Its standard output goes to
// out; a failure reports the command, its exit and both streams.
bool run(const QString &program, const QStringList &arguments, QString *out = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool ok = process.waitForFinished(5 * 60 * 1000)
            && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (!ok)
        qWarning().noquote() << program << arguments << "exit" << process.exitCode()
                             << process.errorString() << output << process.readAllStandardError();
    if (out)
        *out = output;
    return ok;
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
    QVERIFY(run(u"cmake"_s,
                {u"--install"_s, QStringLiteral(DROVIK_BINARY_DIR), u"--prefix"_s, m_prefix}));
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
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
}

void tst_Install::sharedObject()
{
    const QFileInfo devLink(m_library.chopped(2));
    QVERIFY2(devLink.isSymLink(), qPrintable(devLink.filePath()));
    QCOMPARE(devLink.canonicalFilePath(), QFileInfo(m_library).canonicalFilePath());

    QString dynamic;
    QVERIFY(run(u"readelf"_s, {u"-d"_s, m_library}, &dynamic));
    // Its SONAME: the one place the library's own name stands in its dynamic section.
    QVERIFY2(dynamic.contains(u"["_s + libraryName + u"]"_s), qPrintable(dynamic));
    // The installed copy must not point back into the build tree.
    QVERIFY2(!dynamic.contains(QStringLiteral(DROVIK_BINARY_DIR)), qPrintable(dynamic));
}

void tst_Install::onlyPublicApiExported()
{
    QString nm;
    QVERIFY(run(u"nm"_s, {u"-D"_s, u"--defined-only"_s, u"-C"_s, m_library}, &nm));
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
    for (const char *wanted :
         {"Drovik::parseSectionParamByKey(", "Drovik::tinyStrictToText(", "Drovik::decryptEncrypt(",
          "Drovik::encryptNewParam(", "Drovik::storedProtection(", "QBlowfish::encrypt(",
          "QBlowfish::hexPi"})
        QVERIFY2(nm.contains(QLatin1String(wanted)), wanted);
    // Internal helpers stay hidden, inline ones included.
    QVERIFY(!nm.contains(u"drovik::"_s));
}

void tst_Install::cmakeConsumer()
{
    const QString build = m_dir.filePath(u"cbuild"_s);
    QVERIFY(run(u"cmake"_s,
                {u"-S"_s, consumerSource, u"-B"_s, build, u"-DCMAKE_PREFIX_PATH="_s + m_prefix,
                 u"-DCMAKE_CXX_COMPILER="_s + compiler, u"-DCMAKE_CXX_FLAGS="_s + sanitizeFlag,
                 u"-DDROVIK_PACKAGE="_s + QStringLiteral(DROVIK_PACKAGE_NAME)}));
    QVERIFY(run(u"cmake"_s, {u"--build"_s, build}));
    checkConsumer(build + u"/consumer"_s);
}

void tst_Install::pkgConfigConsumer()
{
    // Qt Core comes in through the file's Requires line.
    QString flags;
    QVERIFY(run(u"pkg-config"_s, {u"--cflags"_s, u"--libs"_s, u"drovik"_s + flavourSuffix},
                &flags));
    // Qt is built to need position-independent code in its users.
    const QString binary = m_dir.filePath(u"consumer-pc"_s);
    QVERIFY(run(compiler,
                QStringList {u"-std=c++17"_s, u"-fPIC"_s, consumerSource + u"/main.cpp"_s, u"-o"_s,
                             binary}
                        + QProcess::splitCommand(sanitizeFlag + u' ' + flags.trimmed())));
    checkConsumer(binary);
}

// The consumer links the library of this flavour and runs against the installed copy.
void tst_Install::checkConsumer(const QString &binary)
{
    QString out;
    QVERIFY(run(u"readelf"_s, {u"-d"_s, binary}, &out));
    QVERIFY2(out.contains(u"["_s + libraryName + u"]"_s), qPrintable(out)); // a NEEDED entry
    QVERIFY(run(binary, {}, &out));
    QCOMPARE(out.trimmed(), u"OK"_s);
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
