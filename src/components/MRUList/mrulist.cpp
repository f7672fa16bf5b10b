#include "components/MRUList/mrulist.h"

#include "platform/registry/registry.h"

#include <QCollator>
#include <QMenu>

#include <exception>
#include <stdexcept>

TMRUMenuItem::TMRUMenuItem(const QString& caption, quint8 itemNumber, QObject* parent)
    : QAction(caption, parent), ItemNumber(itemNumber) {}

TMRUMenuItem::~TMRUMenuItem() { delete FSubmenu.data(); }

QMenu* TMRUMenuItem::CreateSubmenu() {
    FSubmenu = new QMenu(text());
    setMenu(FSubmenu.data());
    return FSubmenu.data();
}

TMRUFileList::TMRUFileList(QObject* parent) : QObject(parent) {}

TMRUFileList::~TMRUFileList() {
    if (!FAutoSave) return;
    try {
        SaveToRegistry();
    } catch (const std::exception&) {
        // Nothing can be reported while the program ends; the previous list stays stored.
    }
}

void TMRUFileList::SetMaximum(quint8 value) {
    if (value == FMaximum) return;
    const bool lowered = value < FMaximum;
    FMaximum = value;
    if (lowered) {
        while (FItems.size() > FMaximum) FItems.removeLast();
        PopulateMenu();
    }
}

void TMRUFileList::SetUseSubmenu(bool value) {
    if (value == FUseSubmenu) return;
    FUseSubmenu = value;
    PopulateMenu();
}

void TMRUFileList::SetSubmenuName(const QString& value) {
    if (value == FSubmenuName) return;
    FSubmenuName = value;
    if (FUseSubmenu) PopulateMenu();
}

void TMRUFileList::SetFileMenu(QAction* value) {
    ClearMenu();
    FFileMenu = value;
    PopulateMenu();
}

void TMRUFileList::AddItem(const QString& fileName) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    qsizetype found = -1;
    for (qsizetype i = 0; i < FItems.size(); ++i) {
        if (collator.compare(FItems[i], fileName) == 0) {
            found = i;
            break;
        }
    }
    if (found < 0) {
        FItems.prepend(fileName);
        while (FItems.size() > FMaximum) FItems.removeLast();
    } else {
        FItems.move(found, 0);
    }
    PopulateMenu();
}

QMenu* TMRUFileList::HostMenu(int* position) const {
    QAction* anchor = FFileMenu.data();
    if (!anchor) return nullptr;
    QMenu* own = anchor->menu();
    if (own && !own->actions().isEmpty()) {
        if (position) *position = int(own->actions().size());
        return own;
    }
    for (QObject* o : anchor->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(o)) {
            if (position) *position = int(menu->actions().indexOf(anchor)) + 1;
            return menu;
        }
    }
    return nullptr;
}

void TMRUFileList::ClearMenu() {
    QMenu* host = HostMenu(nullptr);
    if (!host) return;
    const QList<QAction*> actions = host->actions();
    for (qsizetype i = actions.size() - 1; i >= 0; --i) {
        if (auto* item = qobject_cast<TMRUMenuItem*>(actions[i])) {
            host->removeAction(item);
            // Later, not now: the item may be the one whose click is being handled.
            item->deleteLater();
        }
    }
}

void TMRUFileList::PopulateMenu() {
    if (!FFileMenu) return;
    ClearMenu();
    if (FItems.isEmpty()) return;
    int position = 0;
    QMenu* host = HostMenu(&position);
    if (!host) return;

    auto insertAt = [](QMenu* menu, int pos, QAction* action) {
        const QList<QAction*> actions = menu->actions();
        if (pos < actions.size())
            menu->insertAction(actions[pos], action);
        else
            menu->addAction(action);
    };

    if (FUseSubmenu) {
        auto* sub = new TMRUMenuItem(FSubmenuName, 0, this);
        QMenu* submenu = sub->CreateSubmenu();
        insertAt(host, position, sub);
        host = submenu;
        position = 0;
    }
    // Item numbers are 8-bit: a longer list (loaded, never trimmed) shows its first 255.
    const qsizetype shown = qMin<qsizetype>(FItems.size(), 255);
    for (qsizetype i = 0; i < shown; ++i) {
        // "&" in a file name would otherwise turn the next letter into an accelerator.
        QString name = FItems[i];
        name.replace(QLatin1Char('&'), QLatin1String("&&"));
        auto* item = new TMRUMenuItem(QStringLiteral("&%1 %2").arg(i + 1).arg(name),
                                      quint8(i + 1), host);
        connect(item, &QAction::triggered, this, [this, item] { ItemClick(item); });
        insertAt(host, position++, item);
    }
}

void TMRUFileList::ItemClick(TMRUMenuItem* Sender) {
    if (!Sender || Sender->ItemNumber == 0) return;
    const qsizetype index = Sender->ItemNumber - 1;
    if (index >= FItems.size()) return;
    QString fileName;
    if (OnMRUItemClick) fileName = FItems[index];
    if (FRemoveOnClick) {
        FItems.removeAt(index);
        PopulateMenu();
    }
    if (OnMRUItemClick) OnMRUItemClick(Sender, fileName);
}

void TMRUFileList::Loaded() {
    if (FAutoSave) LoadFromRegistry();
}

namespace {

// AutoSaveName is a path below HKEY_CURRENT_USER; a leading backslash means from the root.
std::string KeyPath(const QString& name) {
    QString path = name;
    while (path.startsWith(QLatin1Char('\\'))) path.remove(0, 1);
    return path.toStdString();
}

}  // namespace

bool TMRUFileList::LoadFromRegistry() {
    if (FAutoSaveName.isEmpty() || FAutoSaveKey.isEmpty()) return false;
    FItems.clear();
    // Reading only: a missing key is an empty list, and nothing is written at start-up.
    const std::string path = KeyPath(FAutoSaveName) + "\\" + FAutoSaveKey.toStdString();
    ScopedHKEY key;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS) {
        std::vector<char> name(16384);
        for (DWORD index = 0;; ++index) {
            DWORD cch = DWORD(name.size());
            const LSTATUS status = RegEnumValue(key.Get(), index, name.data(), &cch, nullptr,
                                                nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS) break;
            if (status != ERROR_SUCCESS) continue;
            std::string value;
            if (RegReadString(key.Get(), nullptr, std::string(name.data(), cch).c_str(), &value) &&
                !value.empty())
                FItems.append(QString::fromStdString(value));
        }
    }
    PopulateMenu();
    return true;
}

bool TMRUFileList::SaveToRegistry() {
    if (FAutoSaveName.isEmpty() || FAutoSaveKey.isEmpty()) return false;
    const std::string path = KeyPath(FAutoSaveName);
    const std::string subkey = FAutoSaveKey.toStdString();
    // The key stays open for writing until every value is written, so the registry saves the
    // deletion and the new values together, in one replacement of its file.
    ScopedHKEY key;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                       KEY_ALL_ACCESS, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("Failed to create key " + path);
    RegDeleteTree(key.Get(), subkey.c_str());
    if (!FItems.isEmpty()) {
        ScopedHKEY values;
        if (RegCreateKeyEx(key.Get(), subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, values.Put(), nullptr) != ERROR_SUCCESS)
            throw std::runtime_error("Failed to create key " + subkey);
        for (qsizetype i = 0; i < FItems.size(); ++i) {
            const std::string name = "F" + std::to_string(i);
            if (RegWriteString(values.Get(), name.c_str(), FItems[i].toStdString()) != ERROR_SUCCESS)
                return false;
        }
        if (values.Reset() != ERROR_SUCCESS) return false;
    }
    return key.Reset() == ERROR_SUCCESS;
}
