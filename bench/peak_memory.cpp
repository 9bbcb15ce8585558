// Peak memory of loading one file, one process per measurement, so that each
// peak belongs to one way of reading:
//   drovik_peak_memory generate  DIR LAYOUT KEYS   writes the plain fixture file
//   drovik_peak_memory baseline  DIR LAYOUT KEYS   the process alone
//   drovik_peak_memory qsettings DIR LAYOUT KEYS   QSettings: allKeys() and every value()
//   drovik_peak_memory drovik    DIR LAYOUT KEYS   Drovik::getFileData() on a fresh QSettings
// Prints one JSON object with the peak resident set size (getrusage ru_maxrss).

#include "fixtures.h"

#include <drovik/drovik.h>

#include <QtCore/QSettings>

#include <cstdio>
#include <cstring>

using namespace bench;

int main(int argc, char **argv)
{
    Layout layout = Layout::Sections20;
    if (argc != 5 || !parseLayout(QString::fromLatin1(argv[3]), &layout)) {
        std::fprintf(stderr,
                     "usage: %s generate|baseline|qsettings|drovik DIR s20|one|s1000 KEYS\n",
                     argv[0]);
        return 2;
    }
    const char *const mode = argv[1];
    const QString dir = QString::fromLocal8Bit(argv[2]);
    const int keys = QByteArray(argv[4]).toInt();
    const QString path = fixtureFile(dir, layout, Protection::Plain, keys);

    int loaded = 0;
    if (std::strcmp(mode, "qsettings") == 0) {
        const QSettings settings(path, QSettings::IniFormat);
        const QStringList stored = settings.allKeys();
        for (const QString &key : stored)
            loaded += settings.value(key).isValid() ? 1 : 0;
    } else if (std::strcmp(mode, "drovik") == 0) {
        const QSettings settings(path, QSettings::IniFormat);
        QMap<QString, QVariant> tree;
        if (!Drovik::getFileData(&settings, password(), &tree))
            return 1;
        for (const QVariant &section : tree.value(QStringLiteral("sections")).toMap())
            loaded += section.toMap().value(QStringLiteral("params")).toMap().size();
    } else if (std::strcmp(mode, "generate") != 0 && std::strcmp(mode, "baseline") != 0) {
        std::fprintf(stderr, "unknown mode %s\n", mode);
        return 2;
    }
    std::printf("{\"mode\": \"%s\", \"layout\": \"%s\", \"keys\": %d, \"loaded\": %d, "
                "\"maxrss_kib\": %ld}\n",
                mode, argv[3], keys, loaded, peakRssKiB());
    return 0;
}
