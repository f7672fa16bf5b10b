// Search speed, with the dialog shown (offscreen) and its painting included:
//   a one-letter search of the large generated library, from the start of the search to the
//   result list filled and painted;
//   the same on a library with ten times its members, with the longest stretch the window
//   went without handling its messages, and how soon after a click on Cancel the search ends.
#include "app/application.h"
#include "app/mainform.h"
#include "dialogs/search.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

struct Windows {
    TMainForm* Main;
    TSearchForm* Search;
};

Windows& Shown() {
    static Windows w = [] {
        auto* main = new TMainForm;
        auto* search = new TSearchForm(main);
        main->show();
        search->show();
        QApplication::processEvents();
        return Windows{main, search};
    }();
    return w;
}

void Open(const char* path) {
    Windows& w = Shown();
    if (w.Main->lvTypeLib->topLevelItemCount() > 1 && w.Main->lvTypeLib->topLevelItem(1)->text(1) == path) return;
    w.Main->OpenTypeLib(QString::fromUtf8(path));
    QApplication::processEvents();
}

// Runs a search with the message pump timed: the longest time between two pumps (the first
// measured from the start) and how many there were.
struct PumpWatch {
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    int pumps = 0;

    void Attach(TSearchForm* search) {
        search->FProcessMessages = [this] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
            ++pumps;
            QCoreApplication::processEvents();
        };
    }
    void Start() {
        clock.start();
        last = 0;
        longest = 0;
        pumps = 0;
    }
};

void Search(TSearchForm* search, const char* text) {
    search->txtSearch->setText(QString::fromUtf8(text));
    search->RunSearch();
    search->repaint();
}

void BM_SearchLargeLibrary(benchmark::State& state, const char* text) {
    Open(QUIBREL_BIG_TLB);
    TSearchForm* search = Shown().Search;
    search->FProcessMessages = nullptr;
    for (auto _ : state) Search(search, text);
    state.counters["classes"] = Shown().Main->lvClasses->topLevelItemCount();
    state.counters["results"] = search->lvSearch->model()->rowCount();
}
BENCHMARK_CAPTURE(BM_SearchLargeLibrary, e, "e")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SearchLargeLibrary, o, "o")->Unit(benchmark::kMillisecond);

void BM_SearchTenTimesLarger(benchmark::State& state) {
    Open(QUIBREL_HUGE_TLB);
    TSearchForm* search = Shown().Search;
    PumpWatch watch;
    watch.Attach(search);
    for (auto _ : state) {
        watch.Start();
        Search(search, "e");
    }
    search->FProcessMessages = nullptr;
    state.counters["results"] = search->lvSearch->model()->rowCount();
    state.counters["pumps"] = watch.pumps;
    state.counters["longest_gap_ms"] = double(watch.longest) / 1e6;
}
BENCHMARK(BM_SearchTenTimesLarger)->Unit(benchmark::kMillisecond)->Iterations(3);

// A click on Cancel 100 ms into the search: the time from the click until the search has ended
// and shown what it found.
void BM_CancelTenTimesLarger(benchmark::State& state) {
    Open(QUIBREL_HUGE_TLB);
    TSearchForm* search = Shown().Search;
    qint64 clicked = 0, worst = 0;
    int shown = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(100, search, [&] {
            clicked = clock.nsecsElapsed();
            search->btnCancel->click();
        });
        Search(search, "e");
        worst = std::max(worst, clock.nsecsElapsed() - clicked);
        shown = search->lvSearch->model()->rowCount();
    }
    state.counters["cancel_to_end_ms"] = double(worst) / 1e6;
    state.counters["results_kept"] = shown;
}
BENCHMARK(BM_CancelTenTimesLarger)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    SetUpApplicationFont();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
