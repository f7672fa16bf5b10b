// What the window tests share: one application whose registry and user folders point into a
// temporary folder of the run's own, and a main window with helpers to choose in its lists.
#pragma once

#include "app/mainform.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QString>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

// One application for the whole run, named after the test program.
class WindowEnvironment : public ::testing::Environment {
public:
    explicit WindowEnvironment(const char* program) : program_(program) {}

    void SetUp() override {
        dir_ = std::make_unique<QTemporaryDir>();
        for (const char* name : {"QUIBREL_REGISTRY_DIR", "WINEPREFIX", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            setenv(name, (dir_->path() + "/" + name).toUtf8().constData(), 1);
        argv_[0] = program_.data();
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override {
        app_.reset();
        dir_.reset();
    }

private:
    std::string program_;
    // QApplication keeps references to these for its lifetime.
    int argc_ = 1;
    char* argv_[2] = {nullptr, nullptr};
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QApplication> app_;
};

// A main window the test creates in its SetUp, with choosing by caption in its lists.
class MainWindowTest : public ::testing::Test {
protected:
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
};
