// Main-window speed, with the window shown (offscreen) and its painting included:
//   OpenTypeLib on the large library until the first class is selected with its members and
//   documentation shown; selecting a class of 2,000 members.
#include "app/application.h"
#include "app/mainform.h"

#include <QApplication>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

TMainForm* Form() {
    static TMainForm* form = [] {
        auto* f = new TMainForm;
        f->show();
        QApplication::processEvents();
        return f;
    }();
    return form;
}

void Select(QTreeWidget* list, const QString& caption) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == caption) {
            list->setCurrentItem(list->topLevelItem(i), 0, QItemSelectionModel::ClearAndSelect);
            return;
        }
    std::abort();
}

void BM_OpenLargeLibrary(benchmark::State& state) {
    TMainForm* form = Form();
    for (auto _ : state) {
        form->OpenTypeLib(QStringLiteral(QUIBREL_BIG_TLB));
        form->repaint();
        QApplication::processEvents();
    }
    state.counters["classes"] = form->lvClasses->topLevelItemCount();
    state.counters["members"] = form->lvMembers->topLevelItemCount();
}
BENCHMARK(BM_OpenLargeLibrary)->Unit(benchmark::kMillisecond);

void BM_SelectClassOf2000Members(benchmark::State& state) {
    TMainForm* form = Form();
    form->OpenTypeLib(QStringLiteral(QUIBREL_WIDE_TLB));
    for (auto _ : state) {
        state.PauseTiming();
        Select(form->lvClasses, QStringLiteral("Small"));
        QApplication::processEvents();
        state.ResumeTiming();
        Select(form->lvClasses, QStringLiteral("DWide"));
        form->repaint();
        QApplication::processEvents();
    }
    state.counters["members"] = form->lvMembers->topLevelItemCount();
}
BENCHMARK(BM_SelectClassOf2000Members)->Unit(benchmark::kMillisecond);

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
