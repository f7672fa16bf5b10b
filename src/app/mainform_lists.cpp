// TMainForm: the class list and the member list.
#include "app/mainform.h"
#include "dialogs/idl.h"

#include "app/docpane.h"

#include <QTreeWidget>

#include <algorithm>

TClassRow::TClassRow(const QString& caption, EntityIcon icon, ComPtr<ITypeInfo> typeInfo)
    : QTreeWidgetItem(QStringList{caption}, QTreeWidgetItem::UserType), Icon(icon),
      TypeInfo(std::move(typeInfo)) {}

TMemberRow::TMemberRow(const QString& caption, EntityIcon icon, int index, quint16 flags)
    : QTreeWidgetItem(QStringList{caption}, QTreeWidgetItem::UserType + 1), Icon(icon), Index(index),
      Flags(flags) {}

namespace {

template <class Row>
void SortRows(std::vector<Row*>& rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const Row* a, const Row* b) {
        return RowLess(a->Icon, a->Caption(), b->Icon, b->Caption());
    });
}

EntityIcon ClassIconOf(TYPEKIND kind, bool* listed) {
    *listed = true;
    switch (kind) {
    case TKIND_COCLASS: return eiCoClass;
    case TKIND_DISPATCH: return eiInterface;
    case TKIND_ENUM: return eiEnumeration;
    case TKIND_RECORD: return eiRecord;
    case TKIND_ALIAS: return eiAlias;
    default: *listed = false; return eiCoClass;
    }
}

// Calls add(index, name, var) for each of the first count variables of ti that has a name.
template <class Add>
void ForEachNamedVar(ITypeInfo* ti, UINT count, Add add) {
    for (UINT i = 0; i < count; ++i) {
        VarDescPtr var;
        if (FAILED(ti->GetVarDesc(i, var.Put(ti))) || !var) continue;
        QString name;
        bool isNull = true;
        if (!GetMemberName(ti, var->memid, &name, &isNull) || isNull) continue;
        add(int(i), name, *var.Get());
    }
}

// The same for all the variables of ti.
template <class Add>
void ForEachNamedVar(ITypeInfo* ti, Add add) {
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
    ForEachNamedVar(ti, attr->cVars, add);
}

}  // namespace

TClassRow* TMainForm::ClassRow(int index) const {
    return static_cast<TClassRow*>(lvClasses->topLevelItem(index));
}

TMemberRow* TMainForm::MemberRow(int index) const {
    return static_cast<TMemberRow*>(lvMembers->topLevelItem(index));
}

TClassRow* TMainForm::SelectedClassRow() const {
    const QList<QTreeWidgetItem*> rows = lvClasses->selectedItems();
    return rows.isEmpty() ? nullptr : static_cast<TClassRow*>(rows.first());
}

TMemberRow* TMainForm::SelectedMemberRow() const {
    const QList<QTreeWidgetItem*> rows = lvMembers->selectedItems();
    return rows.isEmpty() ? nullptr : static_cast<TMemberRow*>(rows.first());
}

void TMainForm::DeleteMemberRows() {
    for (TMemberRow* row : FNewMembers) delete row;
    FNewMembers.clear();
    lvMembers->clear();
}

void TMainForm::DeleteClassRows() {
    // Each row gives up its type reference in lvClassesDeletion; the row's own holder makes a
    // second release impossible, whatever deletes the row.
    const bool attached = FClassesChangeAttached;
    FClassesChangeAttached = false;
    for (int i = 0, n = lvClasses->topLevelItemCount(); i < n; ++i) lvClassesDeletion(lvClasses->topLevelItem(i));
    lvClasses->clear();
    FClassesChangeAttached = attached;
}

void TMainForm::lvClassesDeletion(QTreeWidgetItem* item) {
    if (auto* row = static_cast<TClassRow*>(item)) row->TypeInfo.Reset();
}

void TMainForm::SelectRow(QTreeWidget* list, QTreeWidgetItem* row) {
    list->setCurrentItem(row, 0, QItemSelectionModel::ClearAndSelect);
}

void TMainForm::ListClasses() {
    lvClasses->setUpdatesEnabled(false);
    FClassesChangeAttached = false;
    lvMembers->setUpdatesEnabled(false);
    FMembersChangeAttached = false;
    DeleteMemberRows();
    DeleteClassRows();

    std::vector<TClassRow*> rows;
    const UINT count = FTypeLib->GetTypeInfoCount();
    rows.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        ComPtr<ITypeInfo> ti;
        if (FAILED(FTypeLib->GetTypeInfo(i, ti.Put())) || !ti) continue;
        TypeAttrPtr attr;
        if (FAILED(ti->GetTypeAttr(attr.Put(ti.Get()))) || !attr) continue;
        bool listed;
        const EntityIcon icon = ClassIconOf(attr->typekind, &listed);
        if (!listed) continue;
        QString name;
        if (!GetMemberName(ti.Get(), MEMBERID_NIL, &name)) continue;
        if (icon == eiCoClass) CollectEventInterfaces(ti.Get());
        // The row takes its own counted reference; only rows that exist hold one.
        rows.push_back(new TClassRow(name, icon, ti));
        rows.back()->setIcon(0, ilMain[size_t(icon)]);
    }
    SortRows(rows);
    lvClasses->addTopLevelItems(QList<QTreeWidgetItem*>(rows.begin(), rows.end()));

    FMembersChangeAttached = true;
    lvMembers->setUpdatesEnabled(true);
    FClassesChangeAttached = true;
    if (!rows.empty()) SelectRow(lvClasses, rows.front());
    lvClasses->setUpdatesEnabled(true);
}

void TMainForm::CollectEventInterfaces(ITypeInfo* coclass) {
    TypeAttrPtr attr;
    if (FAILED(coclass->GetTypeAttr(attr.Put(coclass))) || !attr) return;
    for (UINT j = 0; j < attr->cImplTypes; ++j) {
        HREFTYPE ref;
        INT flags;
        if (FAILED(coclass->GetRefTypeOfImplType(j, &ref)) || FAILED(coclass->GetImplTypeFlags(j, &flags))) continue;
        if (!(flags & IMPLTYPEFLAG_FSOURCE)) continue;
        ComPtr<ITypeInfo> source;
        if (FAILED(coclass->GetRefTypeInfo(ref, source.Put())) || !source) continue;
        TypeAttrPtr sourceAttr;
        if (FAILED(source->GetTypeAttr(sourceAttr.Put(source.Get()))) || !sourceAttr) continue;
        if (sourceAttr->typekind != TKIND_DISPATCH) continue;
        QString name;
        if (GetMemberName(source.Get(), MEMBERID_NIL, &name)) FEventInterfaces.insert(name);
    }
}

void TMainForm::lvClassesChange(QTreeWidgetItem* item) {
    if (!FClassesChangeAttached) return;
    FMembersCheckBoxes = false;
    lvMembers->setUpdatesEnabled(false);
    DeleteMemberRows();
    auto* row = static_cast<TClassRow*>(item);
    if (row && row->TypeInfo && row->isSelected()) {
        ITypeInfo* ti = row->TypeInfo.Get();
        switch (row->Icon) {
        case eiCoClass: ListCoClassInterfaces(ti); break;
        case eiInterface:
            if (IsEventInterface(row->Caption())) {
                FMembersCheckBoxes = true;
                ListEvents(ti);
            } else {
                ListInterfaceMembers(ti);
            }
            break;
        case eiEnumeration: ListConstants(ti); break;
        case eiRecord: ListFields(ti); break;
        default: break;
        }
    }
    ShowClassDocumentation();
    InsertNewMembers();
    lvMembers->setUpdatesEnabled(true);
    if (IdlForm) IdlForm->ClassChanged(row && row->isSelected() ? row->TypeInfo.Get() : nullptr);
}

void TMainForm::InsertNewMembers() {
    SortRows(FNewMembers);
    const QBrush dimmed = lvMembers->palette().brush(QPalette::Disabled, QPalette::Text);
    for (TMemberRow* row : FNewMembers) {
        row->setIcon(0, ilMain[size_t(row->Icon)]);
        if (row->Ghosted) row->setForeground(0, dimmed);
    }
    QList<QTreeWidgetItem*> items(FNewMembers.begin(), FNewMembers.end());
    FNewMembers.clear();
    const bool attached = FMembersChangeAttached;
    FMembersChangeAttached = false;
    lvMembers->addTopLevelItems(items);
    FMembersChangeAttached = attached;
}

void TMainForm::lvClassesEnter() { ShowClassDocumentation(); }

// ---- member listings -------------------------------------------------------------------------

void TMainForm::ListCoClassInterfaces(ITypeInfo* ti) {
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
    for (UINT j = 0; j < attr->cImplTypes; ++j) {
        HREFTYPE ref;
        INT flags;
        if (FAILED(ti->GetRefTypeOfImplType(j, &ref)) || FAILED(ti->GetImplTypeFlags(j, &flags))) continue;
        ComPtr<ITypeInfo> impl;
        if (FAILED(ti->GetRefTypeInfo(ref, impl.Put())) || !impl) continue;
        TypeAttrPtr implAttr;
        if (FAILED(impl->GetTypeAttr(implAttr.Put(impl.Get()))) || !implAttr) continue;
        if (implAttr->typekind != TKIND_DISPATCH) continue;
        QString name;
        if (!GetMemberName(impl.Get(), MEMBERID_NIL, &name)) continue;
        AddMemberRow(new TMemberRow(name, eiInterface, int(j), quint16(flags & 0xFFFF)));
    }
}

void TMainForm::ListEvents(ITypeInfo* ti) {
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FuncDescPtr func;
        if (FAILED(ti->GetFuncDesc(i, func.Put(ti))) || !func) continue;
        if (func->invkind != INVOKE_FUNC) continue;
        QString name;
        bool isNull = true;
        if (!GetMemberName(ti, func->memid, &name, &isNull) || isNull) continue;
        if (FHiddenMethods.count(name)) continue;
        auto* row = new TMemberRow(name, eiEvent, int(i), mfEvent);
        row->setCheckState(0, Qt::Checked);
        AddMemberRow(row);
    }
}

void TMainForm::ListInterfaceMembers(ITypeInfo* ti) {
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
    ForEachNamedVar(ti, attr->cVars, [this](int i, const QString& name, const VARDESC& var) {
        auto* row = new TMemberRow(name, eiProperty, i, 0);
        row->Ghosted = var.wVarFlags & VARFLAG_FHIDDEN;
        AddMemberRow(row);
    });
    // Property rows made from accessors, by name, so that the accessors of one property merge.
    std::map<QString, TMemberRow*, CaseInsensitiveLess> properties;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FuncDescPtr func;
        if (FAILED(ti->GetFuncDesc(i, func.Put(ti))) || !func) continue;
        QString name;
        bool isNull = true;
        if (!GetMemberName(ti, func->memid, &name, &isNull) || isNull) continue;
        if (FHiddenMethods.count(name)) continue;
        quint16 kind = 0;
        switch (func->invkind) {
        case INVOKE_PROPERTYGET: kind = mfGet; break;
        case INVOKE_PROPERTYPUT: kind = mfPut; break;
        case INVOKE_PROPERTYPUTREF: kind = mfPutRef; break;
        default: break;
        }
        if (func->invkind != INVOKE_FUNC) {
            auto it = properties.find(name);
            if (it != properties.end()) {
                it->second->Flags |= kind;
                continue;
            }
        }
        TMemberRow* row;
        if (func->invkind == INVOKE_FUNC) {
            row = new TMemberRow(name, eiMethod, int(i), mfMethod);
        } else {
            row = new TMemberRow(name, eiProperty, int(i), kind ? kind : quint16(mfGet));
            properties.emplace(name, row);
        }
        row->Ghosted = func->wFuncFlags & (FUNCFLAG_FHIDDEN | FUNCFLAG_FNONBROWSABLE);
        AddMemberRow(row);
    }
}

void TMainForm::ListConstants(ITypeInfo* ti) {
    ForEachNamedVar(ti, [this](int i, const QString& name, const VARDESC&) {
        AddMemberRow(new TMemberRow(name, eiConstant, i, 0));
    });
}

void TMainForm::ListFields(ITypeInfo* ti) {
    ForEachNamedVar(ti, [this](int i, const QString& name, const VARDESC&) {
        AddMemberRow(new TMemberRow(name, eiField, i, 0));
    });
}

void TMainForm::lvMembersChange(QTreeWidgetItem* item) {
    if (!FMembersChangeAttached) return;
    auto* member = static_cast<TMemberRow*>(item);
    if (!member || !member->isSelected()) return;
    if (IdlForm)
        IdlForm->MemberChanged(member->Caption(), member->Flags & mfGet ? INVOKE_PROPERTYGET
                                                  : member->Flags & mfPutRef ? INVOKE_PROPERTYPUTREF
                                                  : member->Flags & mfPut ? INVOKE_PROPERTYPUT : 0);
    TClassRow* row = SelectedClassRow();
    if (!row || !row->TypeInfo) return;
    ITypeInfo* ti = row->TypeInfo.Get();
    switch (row->Icon) {
    case eiCoClass: DescribeCoClassInterface(row, member); break;
    case eiInterface: DescribeInterfaceMember(ti, member); break;
    case eiEnumeration: DescribeConstant(ti, member); break;
    case eiRecord: DescribeField(ti, member); break;
    default: break;
    }
}

void TMainForm::lvMembersEnter() {
    if (TMemberRow* row = SelectedMemberRow()) lvMembersChange(row);
}
