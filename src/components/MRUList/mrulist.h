// Recent-file list: keeps the most recently opened file names, shows them as numbered menu
// items beside an anchor item, reports clicks on them, and keeps itself in the current
// user's registry.
#pragma once

#include <QAction>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QMenu;

// A menu item created by the recent-file list. ItemNumber is the 1-based position of its entry,
// 0 for the submenu item that holds the entries.
class TMRUMenuItem : public QAction {
    Q_OBJECT
public:
    TMRUMenuItem(const QString& caption, quint8 itemNumber, QObject* parent);
    ~TMRUMenuItem() override;

    quint8 ItemNumber = 0;

    // Gives this item a submenu of its own; it is deleted with the item.
    QMenu* CreateSubmenu();

private:
    QPointer<QMenu> FSubmenu;
};

// Sender is the clicked menu item, AFilename the entry's file name.
using TMRUClick = std::function<void(QAction* Sender, QString AFilename)>;

class TMRUFileList : public QObject {
    Q_OBJECT
public:
    explicit TMRUFileList(QObject* parent = nullptr);
    // Saves the list when AutoSave is set.
    ~TMRUFileList() override;

    quint8 Maximum() const { return FMaximum; }
    void SetMaximum(quint8 value);
    bool RemoveOnClick() const { return FRemoveOnClick; }
    void SetRemoveOnClick(bool value) { FRemoveOnClick = value; }
    bool UseSubmenu() const { return FUseSubmenu; }
    void SetUseSubmenu(bool value);
    QString SubmenuName() const { return FSubmenuName; }
    void SetSubmenuName(const QString& value);
    QAction* FileMenu() const { return FFileMenu; }
    void SetFileMenu(QAction* value);
    bool AutoSave() const { return FAutoSave; }
    void SetAutoSave(bool value) { FAutoSave = value; }
    QString AutoSaveName() const { return FAutoSaveName; }
    void SetAutoSaveName(const QString& value) { FAutoSaveName = value; }
    QString AutoSaveKey() const { return FAutoSaveKey; }
    void SetAutoSaveKey(const QString& value) { FAutoSaveKey = value; }

    TMRUClick OnMRUItemClick;

    // The entries, newest first.
    const QStringList& Items() const { return FItems; }

    // Puts a file name at the top: an entry already listed (in any letter case) moves up and
    // keeps its spelling; a new one is inserted and the list is cut to Maximum.
    void AddItem(const QString& fileName);
    void PopulateMenu();
    void ClearMenu();
    // Both return false, doing nothing, when AutoSaveName or AutoSaveKey is empty. Saving
    // throws std::runtime_error when the registry cannot be written.
    bool LoadFromRegistry();
    bool SaveToRegistry();

    // Called once the owner has set the properties: loads the list when AutoSave is set.
    void Loaded();

    // What a click on an entry item does.
    void ItemClick(TMRUMenuItem* Sender);

private:
    // The menu that holds the entries (or the submenu item) and the index the first one goes to.
    QMenu* HostMenu(int* position) const;

    QStringList FItems;
    quint8 FMaximum = 5;
    bool FRemoveOnClick = true;
    bool FUseSubmenu = false;
    QString FSubmenuName = QStringLiteral("Reopen");
    QPointer<QAction> FFileMenu;
    bool FAutoSave = true;
    QString FAutoSaveName = QStringLiteral("\\Software\\My Application");
    QString FAutoSaveKey = QStringLiteral("MRU Items");
};
