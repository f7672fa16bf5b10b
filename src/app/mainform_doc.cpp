// TMainForm: the documentation pane's text for the selected class and member.
#include "app/mainform.h"

#include "app/application.h"
#include "app/docpane.h"
#include "platform/registry/registry.h"

#include <QTreeWidget>

#include <cmath>
#include <limits>

namespace {

// The ProgID registered for a class, read from HKEY_CLASSES_ROOT\CLSID\{guid}\ProgID. False
// when the key does not exist; an absent default value reads as empty.
bool ReadProgId(const GUID& clsid, QString* progId) {
    const std::string path = "CLSID\\" + GuidToString(clsid) + "\\ProgID";
    ScopedHKEY key;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return false;
    std::string value;
    if (!RegReadString(key.Get(), nullptr, "", &value)) value.clear();
    *progId = QString::fromStdString(value);
    return true;
}

QString VariantTypeName(VARTYPE vt) {
    switch (vt & VT_TYPEMASK) {
    case VT_EMPTY: return QStringLiteral("Empty");
    case VT_NULL: return QStringLiteral("Null");
    case VT_BSTR: return QStringLiteral("String");
    case VT_DISPATCH: return QStringLiteral("Dispatch");
    case VT_UNKNOWN: return QStringLiteral("Unknown");
    case VT_DECIMAL: return QStringLiteral("Decimal");
    case VT_CY: return QStringLiteral("Currency");
    case VT_DATE: return QStringLiteral("Date");
    default: return QStringLiteral("%1").arg(vt, 4, 16, QLatin1Char('0'));
    }
}

// A constant's value as a 32-bit integer; throws when it is no number.
qint32 ConstantToInt32(const VARIANT& v) {
    auto fail = [&]() -> qint32 {
        throw EBrowserError(QStringLiteral("Could not convert variant of type (%1) into type (Integer)")
                                .arg(VariantTypeName(v.vt)));
    };
    auto fromDouble = [&](double d) -> qint32 {
        if (!std::isfinite(d) || d < double(std::numeric_limits<qint32>::min()) - 0.5 ||
            d > double(std::numeric_limits<qint32>::max()) + 0.5)
            return fail();
        return qint32(std::nearbyint(d));
    };
    switch (v.vt) {
    case VT_I1: return qint32(v.cVal);
    case VT_UI1: return qint32(v.bVal);
    case VT_I2: return qint32(v.iVal);
    case VT_UI2: return qint32(v.uiVal);
    case VT_I4: return v.lVal;
    case VT_INT: return v.intVal;
    case VT_ERROR: return v.scode;
    case VT_UI4: return qint32(v.ulVal);
    case VT_UINT: return qint32(v.uintVal);
    case VT_I8: return qint32(v.llVal);
    case VT_UI8: return qint32(v.ullVal);
    case VT_BOOL: return v.boolVal ? -1 : 0;
    case VT_R4: return fromDouble(v.fltVal);
    case VT_R8: return fromDouble(v.dblVal);
    case VT_BSTR: {
        bool ok = false;
        qint32 n = BstrToQString(v.bstrVal).trimmed().toInt(&ok);
        return ok ? n : fail();
    }
    default: return fail();
    }
}

}  // namespace

void TMainForm::ShowClassDocumentation() {
    txtDoc->Clear();
    TClassRow* row = SelectedClassRow();
    if (!row) return;
    const QString kind = KindName(row->Icon);
    const QString name = row->Caption();
    ITypeInfo* ti = row->TypeInfo.Get();
    switch (row->Icon) {
    case eiCoClass: {
        txtDoc->Add(kind + QLatin1Char(' ') + name);
        if (!ti) return;
        TypeAttrPtr attr;
        if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
        QString progId;
        if (ReadProgId(attr->guid, &progId))
            txtDoc->Add(QStringLiteral("Programmatic ID \"%1\"").arg(progId));
        break;
    }
    case eiInterface:
        if (IsEventInterface(name)) {
            txtDoc->Add(QStringLiteral("Event ") + kind + QLatin1Char(' ') + name);
            txtDoc->Add(QStringLiteral("Create an<Event Template>based on this interface "));
        } else {
            txtDoc->Add(kind + QLatin1Char(' ') + name);
        }
        break;
    case eiAlias: {
        if (!ti) return;
        TypeAttrPtr attr;
        if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
        txtDoc->Add(kind + QLatin1Char(' ') + name + QLatin1Char(' ') + FormatType(ti, attr->tdescAlias, this));
        break;
    }
    default:
        txtDoc->Add(kind + QLatin1Char(' ') + name);
        break;
    }
}

void TMainForm::DescribeCoClassInterface(TClassRow* classRow, TMemberRow* memberRow) {
    txtDoc->Clear();
    const QString kind = KindName(memberRow->Icon);
    txtDoc->Add(kind + QLatin1Char('<') + memberRow->Caption() + QLatin1Char('>'));
    QString line;
    if (memberRow->Flags & IMPLTYPEFLAG_FDEFAULT) line += QStringLiteral("Default ");
    if (memberRow->Flags & IMPLTYPEFLAG_FSOURCE) line += QStringLiteral("Event ");
    line += kind + QStringLiteral(" for CoClass ") + classRow->Caption();
    txtDoc->Add(line);
}

void TMainForm::DescribeInterfaceMember(ITypeInfo* ti, TMemberRow* memberRow) {
    const QString caption = memberRow->Caption();
    const quint16 flags = memberRow->Flags;
    if (flags == 0) {
        QString text = QStringLiteral("Property ") + caption;
        VarDescPtr var;
        if (SUCCEEDED(ti->GetVarDesc(UINT(memberRow->Index), var.Put(ti))) && var)
            text += QLatin1Char(' ') + FormatType(ti, var->elemdescVar.tdesc, this);
        txtDoc->SetText(text);
        return;
    }
    QString text;
    FuncDescPtr func;
    if (SUCCEEDED(ti->GetFuncDesc(UINT(memberRow->Index), func.Put(ti))) && func) {
        if (func->invkind == INVOKE_FUNC) {
            if (flags == mfEvent) text = QStringLiteral("Event ");
            else if (func->elemdescFunc.tdesc.vt == VT_VOID) text = QStringLiteral("Sub ");
            else text = QStringLiteral("Function ");
            text += caption;
        } else if (func->invkind == INVOKE_PROPERTYGET || func->invkind == INVOKE_PROPERTYPUT ||
                   func->invkind == INVOKE_PROPERTYPUTREF) {
            text = QStringLiteral("Property ") + caption;
        }
        text += FormatSignature(ti, *func.Get(), this);
    }
    txtDoc->SetText(text);
    if (flags >= 2 && flags <= 15) {
        if (!(flags & (mfPut | mfPutRef))) txtDoc->Add(QStringLiteral("read-only"));
        else if (!(flags & mfGet)) txtDoc->Add(QStringLiteral("write-only"));
    }
}

void TMainForm::DescribeConstant(ITypeInfo* ti, TMemberRow* memberRow) {
    VarDescPtr var;
    // Only a constant carries a value; for other kinds the union holds an instance offset.
    if (FAILED(ti->GetVarDesc(UINT(memberRow->Index), var.Put(ti))) || !var || var->varkind != VAR_CONST ||
        !var->lpvarValue) {
        txtDoc->SetText(QString());
        return;
    }
    const qint32 value = ConstantToInt32(*var->lpvarValue);
    txtDoc->SetText(QStringLiteral("Const %1 = %2").arg(memberRow->Caption()).arg(value));
}

void TMainForm::DescribeField(ITypeInfo* ti, TMemberRow* memberRow) {
    txtDoc->Clear();
    VarDescPtr var;
    if (SUCCEEDED(ti->GetVarDesc(UINT(memberRow->Index), var.Put(ti))) && var)
        txtDoc->Add(QStringLiteral("Field ") + memberRow->Caption() + QLatin1Char(' ') +
                    FormatType(ti, var->elemdescVar.tdesc, this));
}

bool TMainForm::IsEventInterface(const QString& className) const {
    return FEventInterfaces.count(className) != 0;
}
