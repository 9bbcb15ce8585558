// Committed protected files, written once, against today's reader and writer.
//
// Round trips cannot see a change made to both directions at once (a cipher
// constant, the private key's units, the value codec, a stored key's name);
// these files can, because they were written by an earlier build.

#include "frozen_clock.h"
#include "testutil.h"

#include <QtTest/QtTest>

#include <random>

using testutil::describe;
using testutil::Files;

namespace {

// The saver's inputs when the files were made: qrand seeded, clock stopped.
constexpr unsigned seed = 11;
constexpr time_t savedAt = 1796536800; // 2026-12-06 06:00:00 UTC

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
void seedPublicKeyDraw(unsigned value)
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    qsrand(value);
    QT_WARNING_POP
}
#else
// The committed files were saved by a Qt 5 build, whose qrand() is a
// per-thread std::minstd_rand seeded by qsrand(). The Qt 6 build draws from
// rand(); this program defines rand() as that same sequence so that one pin
// holds for both builds.
std::minstd_rand publicKeyDraws;

void seedPublicKeyDraw(unsigned value)
{
    publicKeyDraws.seed(value);
}
#endif

const QString committedDir = QStringLiteral(DROVIK_SOURCE_DIR "/tests/data/golden/");

// One line per parameter and per protection flag of a configuration tree. The
// loader keeps a protected item's stored parts ("packed-...") beside its values;
// they are left out here, and the resave pins them.
QStringList contentOf(const QVariantMap &tree)
{
    QStringList lines;
    if (tree.value(u"encrypted-file"_s).toBool())
        lines.append(u"file protected"_s);
    const QVariantMap sections = tree.value(u"sections"_s).toMap();
    for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
        const QVariantMap node = section.value().toMap();
        if (node.value(u"encrypted-section"_s).toBool())
            lines.append(section.key() + u" protected"_s);
        const QVariantMap params = node.value(u"params"_s).toMap();
        for (auto param = params.cbegin(); param != params.cend(); ++param) {
            // A magic text belongs inside the payload only, never in the tree.
            if (param.key().startsWith(u"packed-"_s) && !param.key().contains(u"magic"_s))
                continue;
            const QString path = section.key() + u"/"_s + param.key();
            const QVariantMap paramNode = param.value().toMap();
            lines.append(path + u" = "_s + describe(paramNode.value(u"value"_s)));
            if (paramNode.value(u"encrypted-param"_s).toBool())
                lines.append(path + u" protected"_s);
        }
    }
    return lines;
}

} // namespace

class tst_Golden : public QObject
{
    Q_OBJECT

private slots:
    void committedFiles_data();
    void committedFiles();

private:
    Files m_files;
};

// One row per file that golden/contents.txt lists.
void tst_Golden::committedFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("resaved");
    QTest::addColumn<QStringList>("content");
    for (const testutil::Block &file : testutil::dataBlocks(u"golden/contents.txt"_s)) {
        const QStringList &header = file.header;
        QTest::newRow(qPrintable(header.at(0)))
                << header.at(0) << header.value(1).toUtf8()
                << (header.value(2) != QLatin1String("read-only")) << file.lines;
    }
}

// The file loads to the listed content. Saved again, that content gives every
// stored key and value, public keys and cipher text included.
void tst_Golden::committedFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, password);
    QFETCH(bool, resaved);
    QFETCH(QStringList, content);
    const frozenclock::Stopped clock(savedAt);
    seedPublicKeyDraw(seed);
    const QSettings settings(m_files.copy(committedDir + name), QSettings::IniFormat);
    QVariantMap tree;
    QVERIFY2(Drovik::getFileData(&settings, password, &tree), "the password did not open it");
    QCOMPARE(contentOf(tree), content);
    if (resaved)
        QCOMPARE(m_files.storedKeys(m_files.save(tree, password)),
                 m_files.storedKeys(committedDir + name));
}

QTEST_GUILESS_MAIN(tst_Golden)
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
extern "C" __attribute__((visibility("default"))) int rand()
{
    return int(publicKeyDraws());
}
#endif

#include "tst_golden.moc"
