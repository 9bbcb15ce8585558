// Loading, saving and single-key access, each beside the QSettings work it
// cannot avoid (its floor), measured in the same run.
//
// Both sides of a load run against the same QSettings object, opened and fully
// parsed before timing starts, so neither pays for reading the INI text: the
// floor is allKeys() plus value() of every key, the library's side one
// getFileData() and dropping the tree it made, as every operation does (the
// "drovik-kept" runs drop it outside the timed part). A save writes the loaded
// tree through a QSettings object that is never synced during timing; its
// floor is clear() plus setValue() of every key the saved file holds.

#include "fixtures.h"

#include <drovik/blowfish.h>
#include <drovik/drovik.h>

#include <QtCore/QFile>
#include <QtCore/QSettings>

#include <benchmark/benchmark.h>

#include <memory>

using namespace bench;

namespace {

using VariantMap = QMap<QString, QVariant>;

class OpenedFile;
// One file opened at a time: the files of 100,000 keys take tens of MiB each
// once parsed, and a library run and its floor are registered side by side.
std::unique_ptr<OpenedFile> g_current;
std::unique_ptr<QSettings> g_writableSmallFile;

class OpenedFile
{
public:
    static OpenedFile &get(Layout layout, Protection protection, int keys)
    {
        std::unique_ptr<OpenedFile> &current = g_current;
        const QString path = fixtureFile(fixtureDir(), layout, protection, keys);
        if (!current || current->m_path != path) {
            current.reset(); // the old objects go before the new file is parsed
            current.reset(new OpenedFile(path));
        }
        return *current;
    }

    const QSettings &source() const { return *m_source; }
    const VariantMap &tree() const { return m_tree; }
    // Every stored key and its value, as the file holds them.
    const QVector<QPair<QString, QVariant>> &entries() const { return m_entries; }

    // A writable object on an empty scratch file, never synced while timed.
    QSettings &scratch()
    {
        if (!m_scratch) {
            const QString path = m_path + QStringLiteral(".out");
            QFile::remove(path);
            m_scratch.reset(new QSettings(path, QSettings::IniFormat));
        }
        return *m_scratch;
    }

private:
    explicit OpenedFile(const QString &path)
        : m_path(path), m_source(new QSettings(path, QSettings::IniFormat))
    {
        // allKeys() parses every group, so no timed call pays for parsing.
        const QStringList keys = m_source->allKeys();
        m_entries.reserve(keys.size());
        for (const QString &key : keys)
            m_entries.append(qMakePair(key, m_source->value(key)));
        if (!Drovik::getFileData(m_source.get(), password(), &m_tree))
            qFatal("fixture %s does not load", qPrintable(path));
    }

    QString m_path;
    std::unique_ptr<QSettings> m_source;
    VariantMap m_tree;
    QVector<QPair<QString, QVariant>> m_entries;
    std::unique_ptr<QSettings> m_scratch;
};

// The timed bodies live out of line under fixed names, so that a callgrind
// run can count their instructions alone, immune to the machine's load:
//   valgrind --tool=callgrind --toggle-collect='*counted*' drovik_bench ...
// (scripts/bench --callgrind does this).

Q_NEVER_INLINE void countedDrovikLoad(const QSettings &settings)
{
    VariantMap tree;
    bool ok = Drovik::getFileData(&settings, password(), &tree);
    benchmark::DoNotOptimize(ok);
}

Q_NEVER_INLINE void countedFloorLoad(const QSettings &settings)
{
    const QStringList stored = settings.allKeys();
    for (const QString &key : stored) {
        QVariant value = settings.value(key);
        benchmark::DoNotOptimize(value);
    }
}

void writeEntries(QSettings &out, const QVector<QPair<QString, QVariant>> &entries)
{
    out.clear();
    for (const auto &entry : entries)
        out.setValue(entry.first, entry.second);
}

Q_NEVER_INLINE void countedDrovikSave(QSettings &out, const VariantMap &tree)
{
    Drovik::saveFile(&out, password(), &tree);
}

Q_NEVER_INLINE void countedFloorSave(QSettings &out,
                                     const QVector<QPair<QString, QVariant>> &entries)
{
    writeEntries(out, entries);
}

void loadDrovik(benchmark::State &state, Layout layout, Protection protection)
{
    const int keys = int(state.range(0));
    const OpenedFile &file = OpenedFile::get(layout, protection, keys);
    for (auto _ : state)
        countedDrovikLoad(file.source());
    state.SetComplexityN(keys);
    state.SetItemsProcessed(state.iterations() * keys);
}

// The same load with the tree dropped outside the timed part: what loading
// costs on its own, apart from freeing the nodes it made.
void loadDrovikKept(benchmark::State &state, Layout layout, Protection protection)
{
    const int keys = int(state.range(0));
    const OpenedFile &file = OpenedFile::get(layout, protection, keys);
    for (auto _ : state) {
        std::unique_ptr<VariantMap> tree(new VariantMap);
        bool ok = Drovik::getFileData(&file.source(), password(), tree.get());
        benchmark::DoNotOptimize(ok);
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    state.SetComplexityN(keys);
    state.SetItemsProcessed(state.iterations() * keys);
}

void loadFloor(benchmark::State &state, Layout layout, Protection protection)
{
    const int keys = int(state.range(0));
    const QSettings &settings = OpenedFile::get(layout, protection, keys).source();
    for (auto _ : state)
        countedFloorLoad(settings);
    state.SetComplexityN(keys);
    state.SetItemsProcessed(state.iterations() * keys);
}

// Each save first runs once untimed, so that every timed one starts from a
// scratch object holding a whole file, as the clear() of a real save does.
void saveDrovik(benchmark::State &state, Layout layout, Protection protection)
{
    const int keys = int(state.range(0));
    OpenedFile &file = OpenedFile::get(layout, protection, keys);
    QSettings &out = file.scratch();
    Drovik::saveFile(&out, password(), &file.tree());
    for (auto _ : state)
        countedDrovikSave(out, file.tree());
    state.SetComplexityN(keys);
    state.SetItemsProcessed(state.iterations() * keys);
}

void saveFloor(benchmark::State &state, Layout layout, Protection protection)
{
    const int keys = int(state.range(0));
    OpenedFile &file = OpenedFile::get(layout, protection, keys);
    QSettings &out = file.scratch();
    writeEntries(out, file.entries());
    for (auto _ : state)
        countedFloorSave(out, file.entries());
    state.SetComplexityN(keys);
    state.SetItemsProcessed(state.iterations() * keys);
}

void registerFamily(const QString &name, void (*run)(benchmark::State &, Layout, Protection),
                    Layout layout, Protection protection, const QVector<int> &sizes)
{
    auto *family = benchmark::RegisterBenchmark(
            qPrintable(name),
            [run, layout, protection](benchmark::State &state) { run(state, layout, protection); });
    for (int keys : sizes)
        family->Arg(keys);
    family->Unit(benchmark::kMillisecond)->Complexity();
}

// ---- Small file: one value, one plain setValue --------------------------------

constexpr int smallFileKeys = 40;
const QString smallKey = QStringLiteral("s1/k07");

void valueDrovik(benchmark::State &state)
{
    const QSettings &settings
            = OpenedFile::get(Layout::Sections20, Protection::Plain, smallFileKeys).source();
    for (auto _ : state) {
        QVariant value = Drovik::value(&settings, smallKey, QVariant(), password());
        benchmark::DoNotOptimize(value);
    }
}

void valueFloor(benchmark::State &state)
{
    const QSettings &settings
            = OpenedFile::get(Layout::Sections20, Protection::Plain, smallFileKeys).source();
    for (auto _ : state) {
        QVariant value = settings.value(smallKey);
        benchmark::DoNotOptimize(value);
    }
}

// A copy of the small file opened writable: the shortcut checks three switches
// and writes the one key.
QSettings &writableSmallFile()
{
    std::unique_ptr<QSettings> &settings = g_writableSmallFile;
    if (!settings) {
        const QString source
                = fixtureFile(fixtureDir(), Layout::Sections20, Protection::Plain, smallFileKeys);
        const QString path = source + QStringLiteral(".writable");
        QFile::remove(path);
        QFile::copy(source, path);
        settings.reset(new QSettings(path, QSettings::IniFormat));
        settings->allKeys();
    }
    return *settings;
}

void setValueDrovik(benchmark::State &state)
{
    QSettings &settings = writableSmallFile();
    int n = 0;
    for (auto _ : state) {
        bool ok = Drovik::setValue(&settings, smallKey, n++, password());
        benchmark::DoNotOptimize(ok);
    }
}

void setValueFloor(benchmark::State &state)
{
    QSettings &settings = writableSmallFile();
    int n = 0;
    for (auto _ : state)
        settings.setValue(smallKey, n++);
}

// What the shortcut cannot avoid: its three switch reads, with keys made
// beforehand, and the one write.
void setValueSwitchesFloor(benchmark::State &state)
{
    QSettings &settings = writableSmallFile();
    const QString fileSwitch = QStringLiteral("packed-file/enabled");
    const QString sectionSwitch = QStringLiteral("s1/packed-section-enabled");
    const QString paramSwitch = QStringLiteral("s1/packed-param-enabled/k07");
    int n = 0;
    for (auto _ : state) {
        bool marked = settings.value(fileSwitch, QVariant()).toBool()
                || settings.value(sectionSwitch, QVariant()).toBool()
                || settings.value(paramSwitch, QVariant()).toBool();
        benchmark::DoNotOptimize(marked);
        settings.setValue(smallKey, n++);
    }
}

// ---- One protected parameter ----------------------------------------------------
// A file holding a single protected parameter: the load is one key schedule and
// one decrypt of a short payload, plus the plain bookkeeping around it.

const OpenedFile &oneProtectedParam()
{
    return OpenedFile::get(Layout::OneSection, Protection::Params1000, 1);
}

void paramLoadDrovik(benchmark::State &state)
{
    const QSettings &settings = oneProtectedParam().source();
    for (auto _ : state) {
        VariantMap tree;
        bool ok = Drovik::getFileData(&settings, password(), &tree);
        benchmark::DoNotOptimize(ok);
    }
}

void paramLoadFloor(benchmark::State &state)
{
    QByteArray cipher;
    for (const auto &entry : oneProtectedParam().entries()) {
        if (entry.first.contains(QLatin1String("packed-param-data/")))
            cipher = QByteArray::fromBase64(entry.second.toString().toLatin1());
    }
    if (cipher.isEmpty())
        qFatal("no protected parameter in the fixture");
    // Any key of the payload cipher's length (24 characters) costs the same.
    const QString key = QStringLiteral("0123456789abcdefghijklmn");
    for (auto _ : state) {
        QBlowfish cipherState(key);
        QByteArray plain = cipherState.decrypt(cipher);
        benchmark::DoNotOptimize(plain);
    }
}

} // namespace

void releaseTreeFixtures()
{
    g_current.reset();
    g_writableSmallFile.reset();
}

void registerTreeBenchmarks(const QVector<int> &sizes)
{
    const Layout layouts[] = {Layout::Sections20, Layout::OneSection, Layout::Sections1000};
    struct Kind
    {
        Protection protection;
        bool everyLayout;
    };
    // Protected files in the common layout only: a whole-file payload does not
    // care how its keys are grouped, and protected sections are 20 keys each.
    const Kind kinds[] = {{Protection::Plain, true},
                          {Protection::File, false},
                          {Protection::Sections, false},
                          {Protection::Params1000, false}};
    for (const char *operation : {"load", "save"}) {
        const bool load = qstrcmp(operation, "load") == 0;
        for (const Kind &kind : kinds) {
            for (Layout layout : layouts) {
                if (!kind.everyLayout && layout != Layout::Sections20)
                    continue;
                const QString group
                        = QStringLiteral("%1/%2/%3")
                                  .arg(QLatin1String(operation), protectionName(kind.protection),
                                       layoutName(layout));
                registerFamily(group + QStringLiteral("/drovik"), load ? loadDrovik : saveDrovik,
                               layout, kind.protection, sizes);
                if (load && kind.protection == Protection::Plain)
                    registerFamily(group + QStringLiteral("/drovik-kept"), loadDrovikKept, layout,
                                   kind.protection, sizes);
                registerFamily(group + QStringLiteral("/qsettings"), load ? loadFloor : saveFloor,
                               layout, kind.protection, sizes);
            }
        }
    }

    benchmark::RegisterBenchmark("value/small/drovik", valueDrovik)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("value/small/qsettings", valueFloor)
            ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("setValue/small/drovik", setValueDrovik)
            ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("setValue/small/qsettings", setValueFloor)
            ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("setValue/small/switches+qsettings", setValueSwitchesFloor)
            ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("load/param1/drovik", paramLoadDrovik)
            ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("load/param1/schedule+decrypt", paramLoadFloor)
            ->Unit(benchmark::kMicrosecond);
}
