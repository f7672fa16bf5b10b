// quibrel-tlb-describe FILE, which `quibrel-tlb describe` runs: what a person sees in the main
// window, collected by driving the real window offscreen: the library information, then every
// class and every member with the documentation pane's text after selecting it. A program of
// its own, so that the companion's other commands start without Qt Gui and Widgets.
#include "app/application.h"
#include "app/docpane.h"
#include "app/notice.h"
#include "app/mainform.h"
#include "cli/fileproblem.h"
#include "platform/oleauto/hostpath.h"

#include <QApplication>
#include <QTreeWidget>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_writeError = 0;  // the reason of the first write that failed

void Print(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) && !g_writeError)
        g_writeError = errno;
}

// Standard output written whole, or the command fails as the companion's other commands do.
int CheckOutput(int status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    const int reason = g_writeError ? g_writeError : errno;
    std::fprintf(stderr, "quibrel-tlb: cannot write the output: %s\n", reason ? std::strerror(reason) : "write error");
    return status == 0 ? 1 : status;
}

void PrintDoc(TMainForm& form, const char* indent) {
    for (const QString& line : form.txtDoc->Lines()) Print(QLatin1String(indent) + QStringLiteral("doc ") + line + QLatin1Char('\n'));
}

int Describe(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: quibrel-tlb describe FILE\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "quibrel-tlb";
    char* argv[] = {name, nullptr};
    QuietMissingRuntimeDir();
    QApplication app(argc, argv);
    // What the browser would show in a message box goes to standard error.
    ErrorSink() = [](const QString& text) { std::fprintf(stderr, "%s\n", text.toUtf8().constData()); };
    NoticeSink() = [](const QString& text) {
        for (const QString& line : text.split(QLatin1Char('\n')))
            std::fprintf(stderr, "quibrel-tlb: %s\n", PathForMessage(line.toStdString()).c_str());
    };
    // A read-only command: the user's recent-file list is neither shown nor changed.
    TMainForm form(QStringList(), nullptr, TMainForm::TRecentFiles::Untouched);
    try {
        form.OpenTypeLib(QString::fromStdU16String(HostPathToUtf16(args[0])));
    } catch (const EBrowserError&) {
        // The window's message says only that loading failed; the status says why.
        ComPtr<ITypeLib> lib;
        const HRESULT hr = LoadTypeLib(HostPathToUtf16(args[0]).c_str(), lib.Put());
        PrintLoadFailure(args[0], FAILED(hr) ? hr : E_FAIL);
        return 1;
    }

    QTreeWidgetItem* header = form.lvTypeLib->headerItem();
    Print(QStringLiteral("info ") + header->text(0) + QLatin1Char('\t') + header->text(1) + QLatin1Char('\n'));
    for (int i = 0; i < form.lvTypeLib->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = form.lvTypeLib->topLevelItem(i);
        Print(QStringLiteral("info ") + row->text(0) + QLatin1Char('\t') + row->text(1) + QLatin1Char('\n'));
    }

    try {
        for (int i = 0; i < form.lvClasses->topLevelItemCount(); ++i) {
            TClassRow* row = form.ClassRow(i);
            form.lvClasses->setCurrentItem(row, 0, QItemSelectionModel::ClearAndSelect);
            Print(QStringLiteral("class %1 icon %2\n").arg(row->Caption()).arg(int(row->Icon)));
            PrintDoc(form, "  ");
            for (int j = 0; j < form.lvMembers->topLevelItemCount(); ++j) {
                TMemberRow* member = form.MemberRow(j);
                form.lvMembers->setCurrentItem(member, 0, QItemSelectionModel::ClearAndSelect);
                QString line = QStringLiteral("  member %1 icon %2 index %3 flags %4")
                                   .arg(member->Caption())
                                   .arg(int(member->Icon))
                                   .arg(member->DataWord() & 0xFFFF)
                                   .arg(member->DataWord() >> 16);
                if (form.MembersHaveCheckBoxes() && member->Checked()) line += QStringLiteral(" checked");
                if (member->Ghosted) line += QStringLiteral(" ghosted");
                Print(line + QLatin1Char('\n'));
                PrintDoc(form, "    ");
            }
        }
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", e.what());
        return CheckOutput(1);
    }
    return CheckOutput(0);
}

}  // namespace

int main(int argc, char** argv) { return Describe(std::vector<std::string>(argv + 1, argv + argc)); }
