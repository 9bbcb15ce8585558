// Loads arbitrary bytes as an INI file, the way an application would meet a
// damaged or hand-edited file. Properties:
//  - loading never crashes or hangs, and loads the same way twice;
//  - a load that fails (a protected part does not open) or needs no saving
//    leaves the file's bytes exactly as they were;
//  - a file the library saved loads again with the same password;
//  - after one save-and-load round the content is a fixed point: saving it
//    and loading that gives the same values and protection flags. (The first
//    round may legitimately change things: QSettings normalises key names,
//    protected values take the typed codec's kinds, unlisted names are dropped.)
// Every file gets a new name: QSettings caches what it parsed per file name for
// the life of the process, and a reused name would answer from that cache.
#include <drovik/drovik.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QSettings>
#include <QtCore/QTemporaryDir>
#include <QtCore/QtNumeric>

#include <cstdint>
#include <cstdlib>

namespace {

using Map = QMap<QString, QVariant>;

const QByteArray password = QByteArrayLiteral("fuzz-password");

void check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "INI load property broken: %s\n", what);
        abort();
    }
}

// Files go to $DROVIK_FUZZ_DIR (scripts/fuzz points it at its scratch space), else
// to a RAM-backed directory when there is one: every save ends in an fsync.
QString newPath()
{
    static const QString base = qEnvironmentVariableIsSet("DROVIK_FUZZ_DIR")
            ? qEnvironmentVariable("DROVIK_FUZZ_DIR")
            : QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                        : QDir::tempPath();
    static QTemporaryDir dir(base + QStringLiteral("/drovik-fuzz-XXXXXX"));
    static quint64 count = 0;
    check(dir.isValid(), "no temporary directory");
    return dir.filePath(QStringLiteral("%1.ini").arg(++count));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString writeFile(const QByteArray &bytes)
{
    const QString path = newPath();
    QFile file(path);
    check(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), "cannot write");
    return path;
}

void removeFile(const QString &path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".lock"));
}

// Loads what the file holds on disk, through a name QSettings has never seen.
bool loadFromDisk(const QString &path, Map *tree)
{
    const QString copy = writeFile(readFile(path));
    bool ok;
    {
        const QSettings settings(copy, QSettings::IniFormat);
        ok = Drovik::getFileData(&settings, password, tree);
    }
    removeFile(copy);
    return ok;
}

QString saveToNewFile(const Map &tree)
{
    const QString path = newPath();
    QSettings settings(path, QSettings::IniFormat);
    Drovik::saveFile(&settings, password, &tree);
    settings.sync();
    check(settings.status() == QSettings::NoError, "saving to a new file failed");
    return path;
}

// What the saver writes and the listings report: the parameters the order
// lists name (an empty list stands for every key of its map), with their
// values and protection flags. Entries a list does not name are leftovers of
// loading that the next save drops.
QStringList ordered(const Map &node, const QString &orderName, const Map &map)
{
    const QStringList order = node.value(orderName).toStringList();
    return order.isEmpty() ? QStringList(map.keys()) : order;
}

Map flatten(const Map &tree)
{
    Map out;
    out.insert(QStringLiteral("#file"), tree.value(QStringLiteral("encrypted-file")));
    const Map sections = tree.value(QStringLiteral("sections")).toMap();
    for (const QString &s : ordered(tree, QStringLiteral("sections-order"), sections)) {
        const Map node = sections.value(s).toMap();
        const Map params = node.value(QStringLiteral("params")).toMap();
        for (const QString &p : ordered(node, QStringLiteral("params-order"), params)) {
            const Map param = params.value(p).toMap();
            const QVariant value = param.value(QStringLiteral("value"));
            const QVariant flag = param.value(QStringLiteral("encrypted-param"));
            if (!value.isValid() && !flag.toBool())
                continue; // an empty node or one the saver skips
            const QString key = s + QLatin1Char('/') + p;
            out.insert(key, value);
            out.insert(QStringLiteral("#param/") + key, flag);
            out.insert(QStringLiteral("#section/") + s,
                       node.value(QStringLiteral("encrypted-section")));
        }
    }
    return out;
}

bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.userType() == QMetaType::Double && b.userType() == QMetaType::Double
        && qIsNaN(a.toDouble()) && qIsNaN(b.toDouble()))
        return true;
    return a.userType() == b.userType() && a == b;
}

bool sameContent(const Map &a, const Map &b)
{
    if (a.keys() != b.keys())
        return false;
    for (auto it = a.cbegin(); it != a.cend(); ++it) {
        if (!sameValue(it.value(), b.value(it.key())))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QString path = writeFile(bytes);

    bool ok;
    bool refused = false;
    bool needsSaving = false;
    Map loaded;
    {
        QSettings settings(path, QSettings::IniFormat);
        Map first;
        ok = Drovik::parseFile(&settings, password, &first, &needsSaving);
        const bool repaired = Drovik::getFileDataWithSaving(&settings, password, &loaded);
        // A repair may be refused (a name that protected data cannot hold):
        // then it reports false and must write nothing.
        check(repaired == ok || (ok && needsSaving), "two loads of one file disagree");
        refused = ok && !repaired;
        settings.sync();
    }
    if (!ok || !needsSaving || refused)
        check(readFile(path) == bytes, "a load that needed no saving changed the file");
    if (ok && needsSaving && !refused) {
        Map reloaded;
        check(loadFromDisk(path, &reloaded), "the file saved by the load does not load");
    }
    removeFile(path);
    if (!ok)
        return 0;

    const QString second = saveToNewFile(loaded);
    Map round2;
    check(loadFromDisk(second, &round2), "a saved tree does not load");
    const QString third = saveToNewFile(round2);
    Map round3;
    check(loadFromDisk(third, &round3), "a saved tree does not load the second time");
    check(sameContent(flatten(round2), flatten(round3)), "content changed after one round");
    removeFile(second);
    removeFile(third);
    return 0;
}
