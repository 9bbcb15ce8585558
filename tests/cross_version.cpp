// Writes configuration files at every protection level, or reads them back and
// checks that they load exactly as they did for their writer. Built with Qt 5
// and with Qt 6, one build writes and the other reads, so that a file moves
// between applications of either Qt version without a change in what it holds.
//
//   cross_version write DIR    DIR/<case>.ini plus DIR/<case>.tree, the tree as
//                              the writer loads it
//   cross_version read DIR     loads every DIR/<case>.ini, compares with .tree
//
// Settings are opened as the README asks of applications: Qt 6 as it is, Qt 5
// reading with the UTF-8 codec. The Qt 5 writer sets no codec, as most Qt 5
// applications do, so the Qt 6 reader also meets Qt 5's escaped text.

#include <drovik/drovik.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QSettings>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

const QByteArray password = QByteArrayLiteral("p\xc3\xa4ss w\xc3\xb6rd");

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// Typed values, lists (an empty item included), non-ASCII names and values.
QList<QPair<QString, QVariant>> values()
{
    return {
            {text("net/port"), 8080},
            {text("net/big"), qlonglong(1) << 40},
            {text("net/ratio"), 0.25},
            {text("net/on"), true},
            {text("net/name"), text("Zo\xc3\xab \xce\xa9 \xe2\x82\xac")},
            {text("net/hosts"), QStringList {text("\xd0\xb0.example"), QString(), text("b")}},
            {text("\xd0\x9f\xd1\x83\xd1\x82\xd0\xb8/"
                  "\xd0\xba\xd0\xb0\xd1\x82\xd0\xb0\xd0\xbb\xd0\xbe\xd0\xb3"),
             text("/\xd0\xb4\xd0\xbe\xd0\xbc/\xc3\xbc")},
    };
}

// Enough text that a protected section or file spans several cipher chunks.
void addBulk(QSettings *settings, const QString &section)
{
    for (int i = 0; i < 60; ++i)
        Drovik::setValue(
                settings, QStringLiteral("%1/line%2").arg(section).arg(i),
                text("\xd1\x81\xd1\x82\xd1\x80\xd0\xbe\xd0\xba\xd0\xb0 %1 of the bulk").arg(i),
                password);
}

void setAll(QSettings *settings)
{
    for (const auto &entry : values())
        Drovik::setValue(settings, entry.first, entry.second, password);
}

// A file as a person writes it, asking for protection by hand. Non-ASCII text
// is escaped, the one spelling that every Qt version reads alike.
const char handMarked[] = "[General]\n"
                          "top=1\n"
                          "[net]\n"
                          "packed-section-enabled=true\n"
                          "port=8080\n"
                          "name=Zo\\xeb \\x3a9\n"
                          "[app]\n"
                          "packed-param-enabled/secret=true\n"
                          "secret=W\\xe4rter, \\x43b\\x438\\x441\\x442\n"
                          "plain=open\n";

struct Case
{
    const char *name;
    std::function<bool(QSettings *)> write; // raw hand-marked text when null
    bool protectAfterLoad;                  // a writable query stores marked parts
};

const Case cases[] = {
        {"plain",
         [](QSettings *s) {
             setAll(s);
             return true;
         },
         false},
        {"params",
         [](QSettings *s) {
             for (const auto &entry : values())
                 if (!Drovik::encryptNewParam(s, entry.first, entry.second, password))
                     return false;
             return true;
         },
         false},
        {"section-chunks",
         [](QSettings *s) {
             setAll(s);
             addBulk(s, text("net"));
             return Drovik::encryptSection(s, text("net"), password);
         },
         false},
        {"file-chunks",
         [](QSettings *s) {
             setAll(s);
             addBulk(s, text("bulk"));
             return Drovik::encryptFile(s, password);
         },
         false},
        {"marked-by-hand", nullptr, false},
        {"marked-then-stored", nullptr, true},
};

std::unique_ptr<QSettings> openForReading(const QString &path)
{
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    settings->setIniCodec("UTF-8");
#endif
    return settings;
}

QString shown(const QVariant &value)
{
    const int type = value.userType();
    if (type == QMetaType::QStringList || type == QMetaType::QVariantList)
        return QLatin1Char('[') + value.toStringList().join(QLatin1Char('|')) + QLatin1Char(']');
    return value.toString();
}

// One line per leaf of the tree: path, metatype id, value. Lists keep every
// item; the ids are the same numbers in Qt 5 and Qt 6.
void dump(const QVariant &node, const QString &path, QString *out)
{
    const int type = node.userType();
    if (type == QMetaType::QVariantMap) {
        const QMap<QString, QVariant> map = node.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            dump(it.value(), path + QLatin1Char('/') + it.key(), out);
        return;
    }
    *out += QStringLiteral("%1 %2 %3\n").arg(path).arg(type).arg(shown(node));
}

// The tree of a file, read under a name this process has not opened yet:
// QSettings would otherwise hand back the typed values it cached when writing.
bool treeText(const QString &path, QString *out)
{
    QMap<QString, QVariant> tree;
    const auto settings = openForReading(path);
    if (!Drovik::getFileData(settings.get(), password, &tree))
        return false;
    dump(tree, QString(), out);
    return true;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "%s\n", qPrintable(message));
    return 1;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int writeCases(const QDir &dir)
{
    for (const Case &c : cases) {
        const QString path = dir.filePath(QLatin1String(c.name) + QStringLiteral(".ini"));
        QFile::remove(path);
        if (!c.write && !writeBytes(path, QByteArray(handMarked)))
            return fail(QStringLiteral("cannot write %1").arg(path));
        {
            QSettings settings(path, QSettings::IniFormat);
            if (c.write && !c.write(&settings))
                return fail(QStringLiteral("%1: an operation failed").arg(path));
            if (c.protectAfterLoad && Drovik::sections(&settings, password).isEmpty())
                return fail(QStringLiteral("%1: no sections").arg(path));
            settings.sync();
            if (settings.status() != QSettings::NoError)
                return fail(QStringLiteral("%1: not written").arg(path));
        }
        const QString copy = dir.filePath(QLatin1String(c.name) + QStringLiteral(".copy"));
        QString tree;
        const bool loaded = writeBytes(copy, readBytes(path)) && treeText(copy, &tree);
        QFile::remove(copy);
        // Every value set must be in the tree, or a tree that lost them all
        // would compare equal in both builds.
        for (const auto &entry : values())
            if (c.write && !tree.contains(shown(entry.second)))
                return fail(QStringLiteral("%1: %2 missing from\n%3").arg(path, entry.first, tree));
        if (!loaded
            || !writeBytes(dir.filePath(QLatin1String(c.name) + QStringLiteral(".tree")),
                           tree.toUtf8()))
            return fail(QStringLiteral("%1: does not load").arg(path));
    }
    return 0;
}

int readCases(const QDir &dir)
{
    int failures = 0;
    for (const Case &c : cases) {
        const QString path = dir.filePath(QLatin1String(c.name) + QStringLiteral(".ini"));
        const QByteArray expected
                = readBytes(dir.filePath(QLatin1String(c.name) + QStringLiteral(".tree")));
        QString tree;
        if (expected.isEmpty() || !treeText(path, &tree)) {
            failures += fail(QStringLiteral("%1: missing or does not load").arg(path));
        } else if (tree.toUtf8() != expected) {
            failures += fail(
                    QStringLiteral("%1 loads differently.\nwriter:\n%2\nreader (Qt %3):\n%4")
                            .arg(path, QString::fromUtf8(expected), QLatin1String(qVersion()),
                                 tree));
        }
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3
        || (arguments.at(1) != QLatin1String("write") && arguments.at(1) != QLatin1String("read")))
        return fail(QStringLiteral("usage: cross_version write|read DIR"));
    const QDir dir(arguments.at(2));
    if (!QDir().mkpath(dir.path()))
        return fail(QStringLiteral("cannot create %1").arg(dir.path()));
    return arguments.at(1) == QLatin1String("write") ? writeCases(dir) : readCases(dir);
}
