// quibrel-tlb template: the class file the browser saves for an event interface.
#include "writers/events.h"
#include "cli/command.h"
#include "cli/fileproblem.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

QString NameOf(ITypeInfo* ti, MEMBERID memid, bool* isNull = nullptr) {
    BStr name;
    if (FAILED(ti->GetDocumentation(memid, name.Put(), nullptr, nullptr, nullptr))) {
        if (isNull) *isNull = true;
        return QString();
    }
    if (isNull) *isNull = name.IsNull();
    return QString::fromStdString(name.Utf8());
}

// Names of the dispatch interfaces that the library's coclasses declare as sources.
QSet<QString> EventInterfaces(ITypeLib* lib) {
    QSet<QString> names;  // case-folded
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ComPtr<ITypeInfo> ti;
        if (FAILED(lib->GetTypeInfo(i, ti.Put())) || !ti) continue;
        TypeAttrPtr attr;
        if (FAILED(ti->GetTypeAttr(attr.Put(ti.Get()))) || !attr || attr->typekind != TKIND_COCLASS) continue;
        for (UINT j = 0; j < attr->cImplTypes; ++j) {
            HREFTYPE ref;
            INT flags;
            if (FAILED(ti->GetRefTypeOfImplType(j, &ref)) || FAILED(ti->GetImplTypeFlags(j, &flags))) continue;
            if (!(flags & IMPLTYPEFLAG_FSOURCE)) continue;
            ComPtr<ITypeInfo> source;
            if (FAILED(ti->GetRefTypeInfo(ref, source.Put())) || !source) continue;
            TypeAttrPtr sourceAttr;
            if (FAILED(source->GetTypeAttr(sourceAttr.Put(source.Get()))) || !sourceAttr ||
                sourceAttr->typekind != TKIND_DISPATCH)
                continue;
            bool isNull = false;
            const QString name = NameOf(source.Get(), MEMBERID_NIL, &isNull);
            if (!isNull) names.insert(name.toCaseFolded());
        }
    }
    return names;
}

// The dispatch interface of that name, exact letter case first, then ignoring it.
ComPtr<ITypeInfo> FindDispatchInterface(ITypeLib* lib, const QString& wanted, QString* name) {
    ComPtr<ITypeInfo> caseless;
    QString caselessName;
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ComPtr<ITypeInfo> ti;
        if (FAILED(lib->GetTypeInfo(i, ti.Put())) || !ti) continue;
        TypeAttrPtr attr;
        if (FAILED(ti->GetTypeAttr(attr.Put(ti.Get()))) || !attr || attr->typekind != TKIND_DISPATCH) continue;
        bool isNull = false;
        const QString typeName = NameOf(ti.Get(), MEMBERID_NIL, &isNull);
        if (isNull) continue;
        if (typeName == wanted) {
            *name = typeName;
            return ti;
        }
        if (!caseless && typeName.compare(wanted, Qt::CaseInsensitive) == 0) {
            caseless = ti;
            caselessName = typeName;
        }
    }
    *name = caselessName;
    return caseless;
}

// The events the member list shows for an event interface, all of them checked.
QStringList ListedEvents(ITypeInfo* ti) {
    static const QSet<QString> hidden = [] {
        QSet<QString> s;
        for (const char* n : {"QueryInterface", "AddRef", "Release", "GetTypeInfoCount", "GetTypeInfo",
                              "GetIDsOfNames", "Invoke"})
            s.insert(QString::fromLatin1(n).toCaseFolded());
        return s;
    }();
    QStringList events;
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return events;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FuncDescPtr func;
        if (FAILED(ti->GetFuncDesc(i, func.Put(ti))) || !func || func->invkind != INVOKE_FUNC) continue;
        bool isNull = false;
        const QString name = NameOf(ti, func->memid, &isNull);
        if (isNull || hidden.contains(name.toCaseFolded())) continue;
        events << name;
    }
    return events;
}

constexpr const char* kUsage = "FILE INTERFACE [--class NAME] [--events A,B,...] [--line-numbers] [--output PATH]";

int Usage() {
    std::fprintf(stderr, "usage: quibrel-tlb template %s\n", kUsage);
    return 2;
}

int RunTemplate(const std::vector<std::string>& args) {
    CliArgs parsed;
    if (!ParseCliArgs("template", kUsage, args, &parsed)) return Usage();
    const std::vector<std::string>& positional = parsed.operands;
    const std::string* className = parsed.Value("--class");
    const std::string* events = parsed.Value("--events");
    const std::string* output = parsed.Value("--output");
    const bool lineNumbers = parsed.Has("--line-numbers");
    if (positional.size() != 2) return Usage();
    const QString interfaceName = QString::fromStdString(positional[1]);

    ComPtr<ITypeLib> lib;
    const HRESULT hr = LoadTypeLib(HostPathToUtf16(positional[0]).c_str(), lib.Put());
    if (FAILED(hr) || !lib) {
        PrintLoadFailure(positional[0], FAILED(hr) ? hr : E_FAIL);
        return 1;
    }
    ReportMissingImports(positional[0], lib.Get());
    QString foundName;
    ComPtr<ITypeInfo> ti = FindDispatchInterface(lib.Get(), interfaceName, &foundName);
    if (!ti) {
        std::fprintf(stderr, "no dispatch interface %s in %s\n", positional[1].c_str(), positional[0].c_str());
        return 1;
    }
    if (!EventInterfaces(lib.Get()).contains(foundName.toCaseFolded())) {
        std::fprintf(stderr, "%s is not an event interface\n", foundName.toStdString().c_str());
        return 1;
    }

    const QStringList listed = ListedEvents(ti.Get());
    QStringList chosen;
    if (events) {
        // Every event named must be one the interface has: a misspelt one is a usage error,
        // not a template without that handler.
        QStringList unknown;
        for (const QString& name : QString::fromStdString(*events).split(u',', Qt::SkipEmptyParts)) {
            if (listed.contains(name.trimmed(), Qt::CaseInsensitive)) chosen << name.trimmed();
            else unknown << name.trimmed();
        }
        // An empty list chooses no event, as unchecking every row does.
        if (!unknown.isEmpty()) {
            std::fprintf(stderr, "quibrel-tlb template: %s %s not an event of %s (its events: %s)\n",
                         unknown.join(QStringLiteral(", ")).toStdString().c_str(),
                         unknown.size() > 1 ? "are" : "is", foundName.toStdString().c_str(),
                         listed.join(QStringLiteral(", ")).toStdString().c_str());
            return 2;
        }
    } else {
        chosen = listed;
    }
    const TEventTemplate eventTemplate(className ? QString::fromStdString(*className) : interfaceName, chosen,
                                       ti.Get(), lineNumbers);
    const QByteArray text = ClassFileText(eventTemplate.Lines());

    if (output) {
        try {
            WriteClassFile(QString::fromStdU16String(HostPathToUtf16(*output)), text);
        } catch (const EClassFileError& e) {
            std::fprintf(stderr, "%s\n", e.Detail().c_str());
            return 1;
        }
        return 0;
    }
    if (!CliWrite(text.constData(), size_t(text.size()))) {
        return 1;  // said by the final check of standard output
    }
    return 0;
}

const CliRegistrar registrar({"template", kUsage, RunTemplate, "the event template (class file) for an event interface"});

}  // namespace
