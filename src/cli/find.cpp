// quibrel-tlb find QUERY [--registered] [--dir DIR]... [--json]: the library index's answers,
// one line per result (LIBRARY-PATH, CLASS, MEMBER, SIGNATURE separated by tabs), or JSON.
// Files that cannot be read are named on standard error.
#include "index/libindex.h"
#include "text/typetext.h"
#include "writers/libjson.h"
#include "cli/command.h"
#include "cli/fileproblem.h"
#include "platform/oleauto/hostpath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <sys/stat.h>

namespace {

void Print(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    CliWrite(bytes.constData(), size_t(bytes.size()));
}

QString StatusText(HRESULT hr) {
    const QString code = QStringLiteral("%1").arg(quint32(hr), 8, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("%1 (0x%2)").arg(LoadErrorText(hr), code);
}

constexpr const char* kUsage = "QUERY [--registered] [--dir DIR]... [--json]";

int Find(const std::vector<std::string>& args) {
    auto usage = [](const char* problem = nullptr, const std::string& what = std::string()) {
        if (problem) std::fprintf(stderr, "quibrel-tlb find: %s%s\n", what.c_str(), problem);
        std::fprintf(stderr, "usage: quibrel-tlb find %s\n", kUsage);
        return 2;
    };
    TIndexSources sources;
    CliArgs parsed;
    // --dir may be given more than once: taken from the arguments in order.
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            rest.insert(rest.end(), args.begin() + std::ptrdiff_t(i), args.end());
            break;
        }
        if (args[i] != "--dir") {
            rest.push_back(args[i]);
            continue;
        }
        if (++i >= args.size()) return usage("--dir needs a folder");
        struct stat st {};
        const std::string& dir = args[i];
        if (::stat(dir.c_str(), &st) != 0) return usage(": no such folder", PathForMessage(dir));
        if (!S_ISDIR(st.st_mode)) return usage(": not a folder", PathForMessage(dir));
        sources.Folders << QString::fromStdU16String(HostPathToUtf16(dir));
    }
    if (!ParseCliArgs("find", kUsage, rest, &parsed)) return usage();
    if (parsed.operands.size() != 1) return usage();
    sources.Registered = parsed.Has("--registered");
    const bool json = parsed.Has("--json");
    const QString text = QString::fromStdString(parsed.operands[0]);
    if (sources.Folders.isEmpty()) sources.Registered = true;

    TIndexQuery query;
    QString error;
    if (!TIndexQuery::Parse(text, &query, &error)) {
        std::fprintf(stderr, "quibrel-tlb find: %s\n", error.toUtf8().constData());
        return 2;
    }
    const std::shared_ptr<TLibraryIndex> index = BuildLibraryIndex(sources, IndexCachePath());
    const std::vector<TIndexResult> results = RunIndexQuery(*index, query);
    const std::vector<TIndexFailure> failures = index->Failures();

    if (json) {
        QJsonArray rows, failed;
        for (const TIndexResult& r : results) {
            rows.append(QJsonObject{{"library", QString::fromStdString(EscapedBytesAsText(r.LibraryPath))},
                                    {"libraryName", r.LibraryName},
                                    {"class", r.ClassName},
                                    {"classKind", r.ClassIcon >= 0 ? KindName(r.ClassIcon) : QString()},
                                    {"member", r.MemberName},
                                    {"signature", r.Signature}});
        }
        for (const TIndexFailure& f : failures)
            failed.append(QJsonObject{{"path", QString::fromStdString(EscapedBytesAsText(f.Path))},
                                      {"status", StatusText(f.Status)}});
        Print(QString::fromUtf8(JsonDocumentText(QJsonObject{{"results", rows},
                                                             {"failures", failed},
                                                             {"withoutLibrary", index->FilesWithoutLibrary()}},
                                                 true)));
    } else {
        for (const TIndexResult& r : results)
            std::printf("%s\t%s\t%s\t%s\n", OneLineField(r.LibraryPath).c_str(), OneLineField(r.ClassName).c_str(),
                        OneLineField(r.MemberName).c_str(), OneLineField(r.Signature).c_str());
        for (const TIndexFailure& f : failures)
            std::fprintf(stderr, "cannot read %s: %s\n", OneLineField(f.Path).c_str(),
                         StatusText(f.Status).toUtf8().constData());
        // What was left out, counted, so that a short answer is not mistaken for a full one.
        const int without = index->FilesWithoutLibrary();
        if (without || !failures.empty())
            std::fprintf(stderr, "searched %d libraries; %d unreadable files, %d files without a type library\n",
                         index->LibraryCount(), int(failures.size()), without);
    }
    return results.empty() ? 1 : 0;
}

CliRegistrar registrar({"find", kUsage, Find,
                        "classes and members across libraries: LIBRARY-PATH<TAB>CLASS<TAB>MEMBER<TAB>SIGNATURE, or JSON"});

}  // namespace
