// What the search, legend and edit tests share: one application with a registry and user
// folders of its own, and a main window with its search and legend windows.
#pragma once

#include "app/mainform.h"
#include "dialogs/legend.h"
#include "dialogs/search.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) { *os << '"' << l.join("\", \"").toStdString() << '"'; }

class SearchEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        dir_ = std::make_unique<QTemporaryDir>();
        for (const char* name : {"QUIBREL_REGISTRY_DIR", "WINEPREFIX", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            setenv(name, (dir_->path() + "/" + name).toUtf8().constData(), 1);
        static int argc = 1;
        static char name[] = "search_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        app_.reset();
        dir_.reset();
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QApplication> app_;
};

inline QString Fixture(const char* name) { return QStringLiteral(QUIBREL_FIXTURE_DIR "/") + QLatin1String(name); }
inline QString SearchFixture(const char* name) { return QStringLiteral(SEARCH_FIXTURE_DIR "/") + QLatin1String(name); }

// The main window, shown and active, with its search and legend windows.
class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        form_ = std::make_unique<TMainForm>();
        search_ = new TSearchForm(form_.get());
        legend_ = new TLegendForm(form_.get());
        ASSERT_EQ(SearchForm, search_);
        ASSERT_EQ(LegendForm, legend_);
        form_->show();
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == form_.get(); }));
    }
    void TearDown() override { form_.reset(); }

    TMainForm& Form() { return *form_; }

    static int RowOf(QTreeWidget* list, const QString& caption) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0) == caption) return i;
        return -1;
    }
    void SelectClass(const QString& name) {
        const int row = RowOf(form_->lvClasses, name);
        ASSERT_GE(row, 0) << name.toStdString();
        form_->lvClasses->setCurrentItem(form_->lvClasses->topLevelItem(row), 0, QItemSelectionModel::ClearAndSelect);
    }
    void SelectMember(const QString& name) {
        const int row = RowOf(form_->lvMembers, name);
        ASSERT_GE(row, 0) << name.toStdString();
        form_->lvMembers->setCurrentItem(form_->lvMembers->topLevelItem(row), 0, QItemSelectionModel::ClearAndSelect);
    }
    QString SelectedClass() const {
        TClassRow* row = form_->SelectedClassRow();
        return row ? row->Caption() : QString();
    }
    QString SelectedMember() const {
        TMemberRow* row = form_->SelectedMemberRow();
        return row ? row->Caption() : QString();
    }

    std::unique_ptr<TMainForm> form_;
    TSearchForm* search_ = nullptr;
    TLegendForm* legend_ = nullptr;
};
