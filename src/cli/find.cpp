// quibrel-tlb find QUERY [--registered] [--dir DIR]... [--json]: the library index's answers,
// one line per result (LIBRARY-PATH, CLASS, MEMBER, SIGNATURE separated by tabs), or JSON.
// Files that cannot be read are named on standard error.
#include "index/libindex.h"
#include "text/typetext.h"
#include "writers/libjson.h"
#include "cli/command.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

void Print(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

QString StatusText(HRESULT hr) {
    const QString code = QStringLiteral("%1").arg(quint32(hr), 8, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("%1 (0x%2)").arg(LoadErrorText(hr), code);
}

int Find(const std::vector<std::string>& args) {
    auto usage = [] {
        std::fprintf(stderr, "usage: quibrel-tlb find QUERY [--registered] [--dir DIR]... [--json]\n");
        return 2;
    };
    TIndexSources sources;
    QString text;
    bool json = false, haveQuery = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--registered") {
            sources.Registered = true;
        } else if (a == "--dir") {
            if (++i >= args.size()) return usage();
            sources.Folders << QString::fromStdString(args[i]);
        } else if (a == "--json") {
            json = true;
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return usage();
        } else if (!haveQuery) {
            text = QString::fromStdString(a);
            haveQuery = true;
        } else {
            return usage();
        }
    }
    if (!haveQuery) return usage();
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
            rows.append(QJsonObject{{"library", r.LibraryPath},
                                    {"libraryName", r.LibraryName},
                                    {"class", r.ClassName},
                                    {"classKind", r.ClassIcon >= 0 ? KindName(r.ClassIcon) : QString()},
                                    {"member", r.MemberName},
                                    {"signature", r.Signature}});
        }
        for (const TIndexFailure& f : failures)
            failed.append(QJsonObject{{"path", f.Path}, {"status", StatusText(f.Status)}});
        Print(QString::fromUtf8(JsonDocumentText(QJsonObject{{"results", rows}, {"failures", failed}}, true)));
    } else {
        for (const TIndexResult& r : results)
            std::printf("%s\t%s\t%s\t%s\n", OneLineField(r.LibraryPath).c_str(), OneLineField(r.ClassName).c_str(),
                        OneLineField(r.MemberName).c_str(), OneLineField(r.Signature).c_str());
        for (const TIndexFailure& f : failures)
            std::fprintf(stderr, "cannot read %s: %s\n", f.Path.toUtf8().constData(),
                         StatusText(f.Status).toUtf8().constData());
    }
    std::fflush(stdout);
    return results.empty() ? 1 : 0;
}

CliRegistrar registrar({"find", "QUERY [--registered] [--dir DIR]... [--json]", Find,
                        "classes and members across libraries: LIBRARY-PATH<TAB>CLASS<TAB>MEMBER<TAB>SIGNATURE, or JSON"});

}  // namespace
