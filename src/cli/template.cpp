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

// The system's text for a status as the browser shows it, without trailing blanks,
// control characters and full stops.
std::string LoadFailureText(HRESULT hr) {
    std::string text = SysErrorMessage(hr);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) text.pop_back();
    if (text.empty()) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "error 0x%08X", static_cast<unsigned>(hr));
        text = buf;
    }
    return text;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: quibrel-tlb template FILE INTERFACE [--class NAME] [--events A,B,...] "
                 "[--line-numbers] [--output PATH]\n");
    return 2;
}

int RunTemplate(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::optional<std::string> className, events, output;
    bool lineNumbers = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::optional<std::string>& slot) {
            if (i + 1 >= args.size() || slot) return false;
            slot = args[++i];
            return true;
        };
        if (a == "--class") {
            if (!value(className)) return Usage();
        } else if (a == "--events") {
            if (!value(events)) return Usage();
        } else if (a == "--output") {
            if (!value(output)) return Usage();
        } else if (a == "--line-numbers") {
            lineNumbers = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return Usage();
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) return Usage();
    const QString interfaceName = QString::fromStdString(positional[1]);

    ComPtr<ITypeLib> lib;
    const HRESULT hr = LoadTypeLib(HostPathToUtf16(positional[0]).c_str(), lib.Put());
    if (FAILED(hr) || !lib) {
        std::fprintf(stderr, "%s%s\n", LoadFailureText(FAILED(hr) ? hr : E_FAIL).c_str(), FileProblem(positional[0]).c_str());
        return 1;
    }
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

    QStringList chosen;
    if (events) {
        for (const QString& name : QString::fromStdString(*events).split(u',', Qt::SkipEmptyParts)) chosen << name;
    } else {
        chosen = ListedEvents(ti.Get());
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
    errno = 0;
    if (std::fwrite(text.constData(), 1, size_t(text.size()), stdout) != size_t(text.size()) ||
        std::fflush(stdout) != 0) {
        std::fprintf(stderr, "Stream write error: standard output: %s\n", std::strerror(errno ? errno : EIO));
        return 1;
    }
    return 0;
}

const CliRegistrar registrar({"template", "FILE INTERFACE [--class NAME] [--events A,B,...] [--line-numbers] [--output PATH]",
                              RunTemplate, "the event template (class file) for an event interface"});

}  // namespace
