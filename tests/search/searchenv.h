// What the search, legend and edit tests share: one application with a registry and user
// folders of its own, and a main window with its search and legend windows.
#pragma once

#include "app/mainform.h"
#include "dialogs/legend.h"
#include "dialogs/search.h"

#include "common/windowenv.h"

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

// One application for the run of search_tests.
class SearchEnvironment : public WindowEnvironment {
public:
    SearchEnvironment() : WindowEnvironment("search_tests") {}
};

inline QString Fixture(const char* name) { return QStringLiteral(QUIBREL_FIXTURE_DIR "/") + QLatin1String(name); }
inline QString SearchFixture(const char* name) { return QStringLiteral(SEARCH_FIXTURE_DIR "/") + QLatin1String(name); }

// The main window, shown and active, with its search and legend windows.
class BrowserTest : public MainWindowTest {
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
    TSearchForm* search_ = nullptr;
    TLegendForm* legend_ = nullptr;
};
