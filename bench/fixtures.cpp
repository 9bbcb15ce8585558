#include "fixtures.h"

#include <drovik/drovik.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QSettings>
#include <QtCore/QTextStream>

#include <sys/resource.h>

namespace bench {

namespace {

int sectionSize(Layout layout, int keys)
{
    switch (layout) {
    case Layout::Sections20:
        return 20;
    case Layout::Sections1000:
        return 1000;
    case Layout::OneSection:
        break;
    }
    return keys;
}

// Zero-padded so that QSettings' sorted key order is the order written.
QString numbered(QChar prefix, int n, int width)
{
    return prefix + QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0'));
}

int digits(int n)
{
    return QString::number(qMax(n - 1, 1)).size();
}

// A mix of what configuration files hold: numbers, texts, and comma lists
// (which QSettings reads back as string lists).
QString valueText(int index)
{
    switch (index % 4) {
    case 0:
        return QString::number(1000 + index);
    case 1:
        return QStringLiteral("host-%1.internal").arg(index);
    case 2:
        return QStringLiteral("alpha%1, beta%1").arg(index);
    default:
        return QStringLiteral("some longer text value number %1").arg(index);
    }
}

void writePlain(const QString &path, Layout layout, int keys)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    QTextStream out(&file);
    const int perSection = sectionSize(layout, keys);
    const int sectionDigits = digits((keys + perSection - 1) / perSection);
    const int keyDigits = digits(perSection);
    for (int i = 0; i < keys; ++i) {
        if (i % perSection == 0)
            out << '[' << numbered(QLatin1Char('s'), i / perSection, sectionDigits) << "]\n";
        out << numbered(QLatin1Char('k'), i % perSection, keyDigits) << '=' << valueText(i) << '\n';
    }
}

void setFlag(QMap<QString, QVariant> &node, const QString &entry)
{
    node.insert(entry, true);
}

// Marks the tree for the protection asked for; the saver then writes it so.
void protect(QMap<QString, QVariant> &tree, Protection protection, int keys)
{
    if (protection == Protection::File) {
        setFlag(tree, QStringLiteral("encrypted-file"));
        return;
    }
    QMap<QString, QVariant> sections = tree.take(QStringLiteral("sections")).toMap();
    const QStringList order = tree.value(QStringLiteral("sections-order")).toStringList();
    const int every = qMax(1, keys / 1000);
    int index = 0;
    for (const QString &name : order) {
        QMap<QString, QVariant> node = sections.take(name).toMap();
        if (protection == Protection::Sections) {
            setFlag(node, QStringLiteral("encrypted-section"));
        } else {
            QMap<QString, QVariant> params = node.take(QStringLiteral("params")).toMap();
            const QStringList names = node.value(QStringLiteral("params-order")).toStringList();
            for (const QString &param : names) {
                if (index++ % every != 0)
                    continue;
                QMap<QString, QVariant> paramNode = params.take(param).toMap();
                setFlag(paramNode, QStringLiteral("encrypted-param"));
                params.insert(param, paramNode);
            }
            node.insert(QStringLiteral("params"), params);
        }
        sections.insert(name, node);
    }
    tree.insert(QStringLiteral("sections"), sections);
}

void writeProtected(const QString &path, const QString &plainPath, Protection protection, int keys)
{
    QMap<QString, QVariant> tree;
    {
        const QSettings plain(plainPath, QSettings::IniFormat);
        if (!Drovik::getFileData(&plain, password(), &tree))
            qFatal("cannot load %s", qPrintable(plainPath));
    }
    protect(tree, protection, keys);
    // Written under another name and renamed: QSettings caches a file it wrote
    // in this process, and the benchmarks must read what the disk holds.
    const QString scratch = path + QStringLiteral(".tmp");
    {
        QSettings settings(scratch, QSettings::IniFormat);
        Drovik::saveFile(&settings, password(), &tree);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            qFatal("cannot write %s", qPrintable(scratch));
    }
    QFile::remove(path);
    if (!QFile::rename(scratch, path))
        qFatal("cannot rename %s", qPrintable(scratch));
}

} // namespace

QString layoutName(Layout layout)
{
    switch (layout) {
    case Layout::Sections20:
        return QStringLiteral("s20");
    case Layout::OneSection:
        return QStringLiteral("one");
    case Layout::Sections1000:
        return QStringLiteral("s1000");
    }
    return QString();
}

QString protectionName(Protection protection)
{
    switch (protection) {
    case Protection::Plain:
        return QStringLiteral("plain");
    case Protection::File:
        return QStringLiteral("file");
    case Protection::Sections:
        return QStringLiteral("sections");
    case Protection::Params1000:
        return QStringLiteral("params1000");
    }
    return QString();
}

bool parseLayout(const QString &name, Layout *layout)
{
    for (Layout candidate : {Layout::Sections20, Layout::OneSection, Layout::Sections1000}) {
        if (layoutName(candidate) == name) {
            *layout = candidate;
            return true;
        }
    }
    return false;
}

QString fixtureFile(const QString &dir, Layout layout, Protection protection, int keys)
{
    const QString stem = QStringLiteral("%1/%2-%3").arg(dir, layoutName(layout)).arg(keys);
    const QString plainPath = stem + QStringLiteral("-plain.ini");
    if (!QFile::exists(plainPath))
        writePlain(plainPath, layout, keys);
    if (protection == Protection::Plain)
        return plainPath;
    const QString path = QStringLiteral("%1-%2.ini").arg(stem, protectionName(protection));
    if (!QFile::exists(path))
        writeProtected(path, plainPath, protection, keys);
    return path;
}

long peakRssKiB()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace bench
