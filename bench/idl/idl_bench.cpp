// IDL speed: writing a whole large library (mshtml.tlb: 1,451 types, 54,548 functions), and the
// IDL window showing a dispatch interface of 2,000 members with the window painted.
#include "app/application.h"
#include "writers/idl.h"
#include "app/mainform.h"
#include "components/ColMemo/colmemo.h"
#include "dialogs/idl.h"
#include "platform/oleauto/comptr.h"

#include <QApplication>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>

namespace {

void BM_WriteMshtmlIdl(benchmark::State& state) {
    if (!std::ifstream(QUIBREL_MSHTML_TLB)) {
        state.SkipWithError("mshtml.tlb is not beside the project");
        return;
    }
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLib(Utf8ToUtf16(QUIBREL_MSHTML_TLB).c_str(), lib.Put()))) std::abort();
    std::size_t bytes = 0;
    for (auto _ : state) {
        TIdlWriter writer(lib.Get());
        writer.WriteLibrary();
        bytes = writer.Text().size();
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_WriteMshtmlIdl)->Unit(benchmark::kMillisecond);

void Select(QTreeWidget* list, const QString& caption) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == caption) {
            list->setCurrentItem(list->topLevelItem(i), 0, QItemSelectionModel::ClearAndSelect);
            return;
        }
    std::abort();
}

void BM_IdlWindowClassOf2000Members(benchmark::State& state) {
    static TMainForm* form = [] {
        auto* f = new TMainForm;
        new TIdlForm(f);
        f->show();
        QApplication::processEvents();
        return f;
    }();
    form->OpenTypeLib(QStringLiteral(QUIBREL_WIDE_TLB));
    IdlForm->show();
    QApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        Select(form->lvClasses, QStringLiteral("Small"));
        QApplication::processEvents();
        state.ResumeTiming();
        // Only the window's part: the class handed over, the IDL written, shown and painted.
        ComPtr<ITypeInfo> wide;
        state.PauseTiming();
        for (int i = 0; i < form->lvClasses->topLevelItemCount(); ++i) {
            auto* row = static_cast<TClassRow*>(form->lvClasses->topLevelItem(i));
            if (row->Caption() == QStringLiteral("DWide")) wide = row->TypeInfo;
        }
        state.ResumeTiming();
        IdlForm->ClassChanged(wide.Get());
        IdlForm->repaint();
        QApplication::processEvents();
    }
    state.counters["lines"] = double(IdlForm->memIdl->document()->blockCount());
}
BENCHMARK(BM_IdlWindowClassOf2000Members)->Unit(benchmark::kMillisecond);

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
