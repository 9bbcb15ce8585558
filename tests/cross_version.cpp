// "write DIR" stores every protection level as DIR/<case>.ini beside the tree
// the writer loads from it (DIR/<case>.tree); "read DIR" loads each file and
// compares. The Qt 5 build writes and the Qt 6 build reads, and the other way
// round, so a file moves between Qt versions without a change in what it holds.
// Readers open settings as the README asks (Qt 5 with the UTF-8 codec); the Qt 5
// writer sets no codec, as most Qt 5 applications do, so Qt 6 meets escaped text.
#include "testutil.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>

namespace {

const QByteArray password = QByteArrayLiteral("p\xc3\xa4ss w\xc3\xb6rd");

// Typed values, lists (an empty item included), non-ASCII names and values.
const QList<QPair<QString, QVariant>> values = {
        {u"net/port"_s, 8080},
        {u"net/big"_s, qlonglong(1) << 40},
        {u"net/ratio"_s, 0.25},
        {u"net/on"_s, true},
        {u"net/name"_s, u"Zoë Ω €"_s},
        {u"net/hosts"_s, QStringList {u"а.example"_s, QString(), u"b"_s}},
        {u"Пути/каталог"_s, u"/дом/ü"_s},
};

// The cases that start from a file a person wrote, asking for protection by
// hand; its non-ASCII text is escaped, the one spelling every Qt version reads alike.
const QString handMarked
        = QStringLiteral(DROVIK_SOURCE_DIR "/tests/data/cross-version/marked-by-hand.ini");
const QStringList cases = {u"plain"_s,       u"params"_s,         u"section-chunks"_s,
                           u"file-chunks"_s, u"marked-by-hand"_s, u"marked-then-stored"_s};

// Stores case name through settings; false when an operation fails.
bool writeCase(const QString &name, QSettings *settings)
{
    if (name == u"marked-by-hand"_s)
        return true;
    if (name == u"marked-then-stored"_s) // a writable query stores the marked parts
        return !Drovik::sections(settings, password).isEmpty();
    for (const auto &entry : values) {
        if (name == u"params"_s
                    ? !Drovik::encryptNewParam(settings, entry.first, entry.second, password)
                    : !Drovik::setValue(settings, entry.first, entry.second, password))
            return false;
    }
    // Enough text that a protected section or file spans several cipher chunks.
    const QString bulk = name == u"section-chunks"_s ? u"net"_s : u"bulk"_s;
    for (int i = 0; i < 60 && name.endsWith(u"-chunks"_s); ++i)
        Drovik::setValue(settings, u"%1/line%2"_s.arg(bulk).arg(i),
                         u"строка %1 of the bulk"_s.arg(i), password);
    if (name == u"section-chunks"_s)
        return Drovik::encryptSection(settings, bulk, password);
    return name != u"file-chunks"_s || Drovik::encryptFile(settings, password);
}

// One line per leaf of the tree: path, metatype id, value. Lists keep every
// item; the ids are the same numbers in Qt 5 and Qt 6.
void dump(const QVariant &node, const QString &path, QString *out)
{
    const int type = node.userType();
    const QVariantMap map = node.toMap();
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        dump(it.value(), path + u'/' + it.key(), out);
    const bool list = type == QMetaType::QStringList || type == QMetaType::QVariantList;
    if (type != QMetaType::QVariantMap)
        *out += u"%1 %2 %3\n"_s.arg(path).arg(type).arg(
                list ? u'[' + node.toStringList().join(u'|') + u']' : node.toString());
}

// The tree of a file as text, read under a name this process has not opened:
// QSettings would otherwise hand back the typed values it cached when writing.
bool treeText(const QString &path, QString *out)
{
    QSettings settings(path, QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    settings.setIniCodec("UTF-8");
#endif
    QVariantMap tree;
    if (!Drovik::getFileData(&settings, password, &tree))
        return false;
    dump(tree, QString(), out);
    return true;
}

int fail(const QString &message)
{
    qCritical("%s", qPrintable(message));
    return 1;
}

int writeCases(const QDir &dir)
{
    testutil::Files copies;
    for (const QString &name : cases) {
        const QString path = dir.filePath(name + u".ini"_s);
        QFile::remove(path);
        if (name.startsWith(u"marked"_s) && !QFile::copy(handMarked, path))
            return fail(u"cannot copy "_s + handMarked);
        QSettings settings(path, QSettings::IniFormat);
        const bool stored = writeCase(name, &settings);
        settings.sync();
        QString tree;
        if (!stored || settings.status() != QSettings::NoError
            || !treeText(copies.copy(path), &tree))
            return fail(path + u": an operation failed, or the file does not load"_s);
        // Every value set must be in the tree (as text: plain ones come back as
        // strings), or a tree that lost them all would compare equal in both builds.
        for (const auto &entry : values) {
            QString leaf; // " type text\n"
            dump(entry.second, QString(), &leaf);
            if (!name.startsWith(u"marked"_s) && !tree.contains(leaf.mid(leaf.indexOf(u' ', 1))))
                return fail(u"%1: %2 missing from\n%3"_s.arg(path, entry.first, tree));
        }
        QFile file(dir.filePath(name + u".tree"_s));
        if (!file.open(QIODevice::WriteOnly) || file.write(tree.toUtf8()) != tree.toUtf8().size())
            return fail(u"cannot write the tree of "_s + path);
    }
    return 0;
}

int readCases(const QDir &dir)
{
    for (const QString &name : cases) {
        const QString path = dir.filePath(name + u".ini"_s);
        const QByteArray expected = testutil::Files::bytes(dir.filePath(name + u".tree"_s));
        QString tree;
        if (expected.isEmpty() || !treeText(path, &tree) || tree.toUtf8() != expected)
            return fail(
                    u"%1 loads differently, or not at all.\nwriter:\n%2\nreader (Qt %3):\n%4"_s.arg(
                            path, QString::fromUtf8(expected), QLatin1String(qVersion()), tree));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString mode = arguments.value(1);
    if (arguments.size() != 3 || (mode != u"write"_s && mode != u"read"_s)
        || !QDir().mkpath(arguments.at(2)))
        return fail(u"usage: cross_version write|read DIR"_s);
    return mode == u"write"_s ? writeCases(QDir(arguments.at(2)))
                              : readCases(QDir(arguments.at(2)));
}
