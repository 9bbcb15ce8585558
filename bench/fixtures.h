#ifndef DROVIK_BENCH_FIXTURES_H
#define DROVIK_BENCH_FIXTURES_H

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QVector>

// INI files of known shape for the benchmarks and the peak-memory helper.
namespace bench {

// How the keys of a file are grouped.
enum class Layout {
    Sections20,   // sections of 20 keys: the common case, many small groups
    OneSection,   // every key in one group
    Sections1000, // sections of 1,000 keys
};

// What the file protects.
enum class Protection {
    Plain,
    File,       // the whole file, one payload
    Sections,   // every section on its own (layout Sections20 only)
    Params1000, // 1,000 protected parameters spread over a plain file
};

QString layoutName(Layout layout);
QString protectionName(Protection protection);
bool parseLayout(const QString &name, Layout *layout);

inline QByteArray password()
{
    return QByteArrayLiteral("bench password");
}

// Path of the file in dir, written on first use. Protected files are made by
// the library's own saver from the plain file's tree.
QString fixtureFile(const QString &dir, Layout layout, Protection protection, int keys);

// Directory of the benchmark program's fixture files.
QString fixtureDir();

// Peak resident set size of this process so far, in KiB.
long peakRssKiB();

} // namespace bench

// Registration of the benchmark program's families; sizes are key counts.
void registerTreeBenchmarks(const QVector<int> &sizes);
void registerCipherBenchmarks();
// Closes the files the tree benchmarks keep open (they sync on closing).
void releaseTreeFixtures();

#endif // DROVIK_BENCH_FIXTURES_H
