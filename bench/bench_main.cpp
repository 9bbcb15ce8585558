// The benchmark program: Google Benchmark's flags, plus
//   --drovik_sizes=1000,10000,100000   key counts of the load and save families
//   --drovik_dir=DIR                   keep the fixture files in DIR (default: a
//                                      temporary directory removed at exit)
// scripts/bench runs it, pairs every library result with its floor and prints
// the ratios.

#include "fixtures.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

namespace {

QString g_fixtureDir;

bool takeOption(const char *arg, const char *name, QString *value)
{
    const std::size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0 || arg[length] != '=')
        return false;
    *value = QString::fromLocal8Bit(arg + length + 1);
    return true;
}

} // namespace

QString bench::fixtureDir()
{
    return g_fixtureDir;
}

int main(int argc, char **argv)
{
    QVector<int> sizes = {1000, 10000, 100000};
    QString dir;
    // Our own options go before Google Benchmark sees the rest.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        QString value;
        if (takeOption(argv[i], "--drovik_sizes", &value)) {
            sizes.clear();
            for (const QString &size : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
                sizes.append(size.toInt());
        } else if (takeOption(argv[i], "--drovik_dir", &value)) {
            dir = value;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    QCoreApplication app(argc, argv);

    std::unique_ptr<QTemporaryDir> temporary;
    if (dir.isEmpty()) {
        temporary.reset(new QTemporaryDir);
        if (!temporary->isValid())
            qFatal("no temporary directory");
        dir = temporary->path();
    } else if (!QDir().mkpath(dir)) {
        qFatal("cannot create %s", qPrintable(dir));
    }
    g_fixtureDir = dir;

    registerTreeBenchmarks(sizes);
    registerCipherBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    releaseTreeFixtures(); // before their directory goes
    benchmark::Shutdown();
    return 0;
}
