// Library index speed over the 281 real-world libraries of ../shared/typelibs/files:
//   Cold: every file read, no cache file (a new cache file is written, as a first run does);
//   RefreshInMemory: nothing changed, the window's previous index at hand (stats only);
//   RefreshFromCacheFile: nothing changed, a new process reading the cache file;
//   Query/*: one query of each kind over the whole index.
#include "index/libindex.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QString Files() { return QStringLiteral(QUIBREL_TYPELIBS_DIR "/files"); }

TIndexSources Sources() {
    TIndexSources s;
    s.Folders << Files();
    return s;
}

QTemporaryDir& CacheDir() {
    static QTemporaryDir dir;
    return dir;
}
QString CacheFile() { return CacheDir().path() + "/library-index.bin"; }

std::shared_ptr<TLibraryIndex>& Index() {
    static std::shared_ptr<TLibraryIndex> index = BuildLibraryIndex(Sources(), CacheFile());
    return index;
}

bool Present(benchmark::State& state) {
    if (QFileInfo(Files()).isDir()) return true;
    state.SkipWithError("../shared/typelibs is not beside the project");
    return false;
}

void Cold(benchmark::State& state) {
    if (!Present(state)) return;
    TIndexBuildStats stats;
    for (auto _ : state) {
        QFile::remove(CacheFile());
        auto index = BuildLibraryIndex(Sources(), CacheFile(), nullptr, nullptr, &stats);
        benchmark::DoNotOptimize(index);
    }
    state.counters["files"] = stats.FilesRead;
}
BENCHMARK(Cold)->Unit(benchmark::kMillisecond)->Iterations(3);

void RefreshInMemory(benchmark::State& state) {
    if (!Present(state)) return;
    auto previous = Index();
    TIndexBuildStats stats;
    for (auto _ : state) {
        auto index = BuildLibraryIndex(Sources(), CacheFile(), previous.get(), nullptr, &stats);
        benchmark::DoNotOptimize(index);
    }
    state.counters["read"] = stats.FilesRead;
    state.counters["unchanged"] = stats.FilesFromCache;
}
BENCHMARK(RefreshInMemory)->Unit(benchmark::kMillisecond);

void RefreshFromCacheFile(benchmark::State& state) {
    if (!Present(state)) return;
    Index();
    TIndexBuildStats stats;
    for (auto _ : state) {
        auto index = BuildLibraryIndex(Sources(), CacheFile(), nullptr, nullptr, &stats);
        benchmark::DoNotOptimize(index);
    }
    state.counters["read"] = stats.FilesRead;
    state.counters["unchanged"] = stats.FilesFromCache;
    state.counters["cacheMB"] = double(QFileInfo(CacheFile()).size()) / 1e6;
}
BENCHMARK(RefreshFromCacheFile)->Unit(benchmark::kMillisecond);

void Query(benchmark::State& state, const char* text) {
    if (!Present(state)) return;
    const TLibraryIndex& index = *Index();
    TIndexQuery query;
    TIndexQuery::Parse(QString::fromLatin1(text), &query);
    size_t found = 0;
    for (auto _ : state) found = RunIndexQuery(index, query).size();
    state.counters["results"] = double(found);
}
BENCHMARK_CAPTURE(Query, fragment, "item")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Query, one_letter, "e")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Query, wildcard, "*Get*Item?")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Query, guid, "{0BE35203-8F91-11CE-9DE3-00AA004BB851}")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Query, returns, "returns:IXMLDOMNode")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Query, takes, "takes:String")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Query, implements, "implements:IDispatch")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
