// Event templates: the class-file generator and the class-file writer.
#include "writers/events.h"

#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"
#include "text/escape.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Names fetched for one event: the event's own name first, then its parameters.
constexpr UINT kNameSlots = 64;

QString ToQString(const BStr& b) { return QString::fromStdString(b.Utf8()); }

// A documentation string shown on one comment line: its line breaks become blanks, so
// that none of it escapes the comment.
QString OnOneLine(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            out += u' ';
        } else if (c == u'\n') {
            out += u' ';
        } else {
            out += c;
        }
    }
    return out;
}

// A library name used as (part of) an identifier of the class file: as it is when safe, else
// its cleaned form, so that no name can end a declaration or a label early.
QString Identifier(const QString& name) {
    const std::string utf8 = name.toStdString();
    if (IsSafeName(utf8, NameDialect::Quibrel)) return name;
    return QString::fromStdString(CleanIdentifier(utf8, NameDialect::Quibrel));
}

// Library text on a comment line and inside a string: one line, no control characters.
QString CommentLine(const QString& text) { return QString::fromStdString(CommentText(text.toStdString())); }
QString StringText(const QString& text) { return QString::fromStdString(StringLiteralText(text.toStdString())); }

// Frees whatever the name fetch left in the slots.
struct NameSlots {
    BSTR names[kNameSlots] = {};
    NameSlots() = default;
    NameSlots(const NameSlots&) = delete;
    NameSlots& operator=(const NameSlots&) = delete;
    ~NameSlots() {
        for (BSTR& b : names) SysFreeString(b);
    }
};

QString TagOfReferencedType(ITypeInfo* TypeInfo, HREFTYPE RefType) {
    ComPtr<ITypeInfo> referenced;
    if (FAILED(TypeInfo->GetRefTypeInfo(RefType, referenced.Put())) || !referenced)
        return QStringLiteral("unk");
    TypeAttrPtr attr;
    if (FAILED(referenced->GetTypeAttr(attr.Put(referenced.Get()))) || !attr)
        return QStringLiteral("int");
    switch (attr->typekind) {
    case TKIND_ENUM:
    case TKIND_ALIAS:
        return QStringLiteral("int");
    case TKIND_RECORD:
    case TKIND_MODULE:
    case TKIND_INTERFACE:
    case TKIND_DISPATCH:
    case TKIND_COCLASS:
    case TKIND_UNION:
        return QStringLiteral("obj");
    default:
        return QStringLiteral("unk");
    }
}

}  // namespace

QString EventParamTypeTag(ITypeInfo* TypeInfo, const TYPEDESC& Desc) {
    VARTYPE t = Desc.vt;
    HREFTYPE ref = 0;
    // Pointers and arrays are looked through one level only.
    auto lookThrough = [&](const TYPEDESC* inner) {
        if (!inner) return;
        t = inner->vt;
        if (t == VT_USERDEFINED) ref = inner->hreftype;
    };
    switch (t) {
    case VT_PTR:
    case VT_SAFEARRAY:
        lookThrough(Desc.lptdesc);
        break;
    case VT_CARRAY:
        if (Desc.lpadesc) lookThrough(&Desc.lpadesc->tdescElem);
        break;
    case VT_USERDEFINED:
        ref = Desc.hreftype;
        break;
    default:
        break;
    }
    switch (t) {
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_DECIMAL:
        return QStringLiteral("dbl");
    case VT_BSTR:
    case VT_LPSTR:
    case VT_LPWSTR:
        return QStringLiteral("str");
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_SAFEARRAY:
        return QStringLiteral("obj");
    case VT_VARIANT:
        return QStringLiteral("var");
    case VT_USERDEFINED:
        return TypeInfo ? TagOfReferencedType(TypeInfo, ref) : QStringLiteral("unk");
    default:
        return QStringLiteral("int");
    }
}

TEventTemplate::TEventTemplate(const QString& ClassName, const QStringList& EventNames,
                               ITypeInfo* TypeInfo, bool LineNumbers)
    : LineNumbers(LineNumbers), ClassName(ClassName) {
    for (const QString& name : EventNames) this->EventNames.insert(name.toCaseFolded());
    for (const char* name : {"QueryInterface", "AddRef", "Release", "GetTypeInfoCount",
                             "GetTypeInfo", "GetIDsOfNames", "Invoke"})
        SkippedNames.insert(QString::fromLatin1(name).toCaseFolded());
    Build(TypeInfo);
}

void TEventTemplate::AddInsertCodeMarker() {
    BodyLines << QStringLiteral("!") << QStringLiteral("!   < Insert code here >")
              << QStringLiteral("!");
}

void TEventTemplate::Build(ITypeInfo* TypeInfo) {
    DeclarationLines.clear();
    BodyLines.clear();

    DeclarationLines << QStringLiteral("DEF CLASS \"") + ClassName + u'"';
    BodyLines << QStringLiteral("!") << QStringLiteral("! CONSTRUCTOR On_Create")
              << QStringLiteral("!") << QStringLiteral("On_Create:");
    AddInsertCodeMarker();
    BodyLines << QStringLiteral("RETURN") << QStringLiteral("!")
              << QStringLiteral("! DESTRUCTOR On_Delete") << QStringLiteral("!")
              << QStringLiteral("On_Delete:");
    AddInsertCodeMarker();
    BodyLines << QStringLiteral("RETURN");

    // The read-only properties every event class has, with the TCB slot each returns.
    struct Property {
        const char* name;
        int tcb;
    };
    static const Property properties[] = {
        {"EventCaller", 120}, {"EventStack", 122}, {"EventsDispatched", 121}, {"EventsDiscarded", 123}};
    for (const Property& p : properties) {
        const QString name = QString::fromLatin1(p.name);
        DeclarationLines << QStringLiteral("   PROPERTY ") + name + QStringLiteral(" GET Get") + name +
                                QStringLiteral(" SET Err");
    }
    for (const Property& p : properties) {
        const QString name = QString::fromLatin1(p.name);
        BodyLines << QStringLiteral("!") << QStringLiteral("! PROPERTY ") + name + QStringLiteral(" (GET)")
                  << QStringLiteral("!") << QStringLiteral("Get") + name + u':'
                  << QStringLiteral("RETURN TCB(%1)").arg(p.tcb);
    }

    AddEventHandlers(TypeInfo);

    DeclarationLines << QStringLiteral("END DEF") << QStringLiteral("!") << QStringLiteral("STOP");
    DeclarationLines += BodyLines;
    BodyLines.clear();

    if (LineNumbers) {
        for (qsizetype i = 0; i < DeclarationLines.size(); ++i)
            DeclarationLines[i] = QStringLiteral("%1").arg((i + 1) * 10, 4, 10, QLatin1Char('0')) + u' ' +
                                  DeclarationLines[i];
    }
}

void TEventTemplate::AddEventHandlers(ITypeInfo* TypeInfo) {
    if (!TypeInfo) return;
    UINT count = 0;
    {
        TypeAttrPtr attr;
        if (FAILED(TypeInfo->GetTypeAttr(attr.Put(TypeInfo))) || !attr) return;
        count = attr->cFuncs;
    }
    for (UINT i = 0; i < count; ++i) AddEventHandler(TypeInfo, int(i));
}

void TEventTemplate::AddEventHandler(ITypeInfo* TypeInfo, int Index) {
    FuncDescPtr func;
    if (FAILED(TypeInfo->GetFuncDesc(UINT(Index), func.Put(TypeInfo))) || !func) return;
    BStr nameText, docText;
    if (FAILED(TypeInfo->GetDocumentation(func->memid, nameText.Put(), docText.Put(), nullptr, nullptr)))
        return;
    const QString name = ToQString(nameText);
    const QString doc = ToQString(docText);
    const QString key = name.toCaseFolded();
    if (name.isEmpty() || SkippedNames.contains(key) || !EventNames.contains(key) ||
        func->invkind != INVOKE_FUNC)
        return;

    // The event's name as the handler's identifier, and as the text that binds it to the event.
    const QString ident = Identifier(name);
    QString declaration = QStringLiteral("   FUNCTION Event_") + ident + u'(';
    QString enterList;
    QStringList objectParams;

    BodyLines << QStringLiteral("!");
    if (doc.isEmpty())
        BodyLines << QStringLiteral("! EVENT ") + CommentLine(name);
    else
        BodyLines << QStringLiteral("! EVENT ") + CommentLine(name) + QStringLiteral(" - ") + CommentLine(OnOneLine(doc));
    BodyLines << QStringLiteral("!") << QStringLiteral("Event_") + ident + u':';

    const int paramCount = func->cParams;
    if (paramCount > 0) {
        // Parameters beyond the names the service returns (unnamed ones, or past the
        // slots) are called ParamN after their position.
        NameSlots fetched;
        UINT returned = 0;
        if (FAILED(TypeInfo->GetNames(func->memid, fetched.names, kNameSlots, &returned))) returned = 0;
        returned = std::min(returned, kNameSlots);
        for (int k = 1; k <= paramCount; ++k) {
            QString paramName;
            if (UINT(k) < returned && fetched.names[k])
                paramName = QString::fromStdString(BstrToUtf8(fetched.names[k]));
            if (paramName.isEmpty()) paramName = QStringLiteral("Param%1").arg(k);
            paramName = Identifier(paramName);

            const QString tag = func->lprgelemdescParam
                                    ? EventParamTypeTag(TypeInfo, func->lprgelemdescParam[k - 1].tdesc)
                                    : QStringLiteral("int");
            QString variable = tag + u'_' + paramName;
            if (tag == QLatin1String("str"))
                variable += u'$';
            else if (tag == QLatin1String("obj"))
                objectParams << variable;
            declaration += variable;
            enterList += variable;
            if (k < paramCount) {
                declaration += QStringLiteral(", ");
                enterList += QStringLiteral(", ");
            }
        }
    }

    declaration += QStringLiteral(") Event_") + ident + QStringLiteral(" FOR EVENT \"") + StringText(name) + u'"';
    DeclarationLines << declaration;

    if (!enterList.isEmpty()) BodyLines << QStringLiteral("ENTER ") + enterList;
    for (const QString& object : objectParams)
        BodyLines << QStringLiteral("IF (") + object + QStringLiteral(" <> 0) THEN DEF OBJECT ") + object;
    AddInsertCodeMarker();
    for (const QString& object : objectParams)
        BodyLines << QStringLiteral("IF (") + object + QStringLiteral(" <> 0) THEN DELETE OBJECT ") + object;
    BodyLines << QStringLiteral("RETURN");
}

QByteArray ClassFileText(const QStringList& Lines) {
    QByteArray text;
    for (const QString& line : Lines) {
        text += line.toUtf8();
        text += "\r\n";
    }
    return text;
}

void WriteClassFile(const QString& FileName, const QByteArray& Text) {
    const std::u16string wide = FileName.toStdU16String();
    const std::string shown = Utf16ToUtf8(PathDisplayText(wide));
    const HostWriteResult result =
        FileName.isEmpty() ? HostWriteResult{HostWriteResult::CannotCreate, ENOENT}
                           : WriteHostFile(wide, std::string_view(Text.constData(), std::size_t(Text.size())));
    const std::string reason =
        result.error ? std::strerror(result.error) : "not a regular file, FIFO or character device";
    switch (result.status) {
    case HostWriteResult::Written:
        return;
    case HostWriteResult::CannotCreate:
        throw EClassFileError("Cannot create file " + shown, "Cannot create file " + shown + ": " + reason);
    case HostWriteResult::WriteFailed:
        throw EClassFileError("Stream write error", "Stream write error: " + shown + ": " + reason);
    }
}

QString ClassNameFromFileName(const QString& FileName) {
    return QFileInfo(FileName).completeBaseName();
}
