// What the navigation tests share: one application with a registry and user folders of its
// own, and a main window with its history window on the test library.
#pragma once

#include "app/docpane.h"
#include "app/mainform.h"
#include "components/ColMemo/colmemo.h"
#include "dialogs/history.h"

#include "common/windowenv.h"

#include <QApplication>
#include <QTest>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <ostream>

// Readable failures for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) { *os << '"' << l.join("\", \"").toStdString() << '"'; }
// The name of the widget with the keyboard focus.
inline QString FocusName() {
    QWidget* w = QApplication::focusWidget();
    return w ? w->objectName() : QStringLiteral("(none)");
}

// One application for the run of navigation_tests.
class NavigationEnvironment : public WindowEnvironment {
public:
    NavigationEnvironment() : WindowEnvironment("navigation_tests") {}
};

inline QString Fixture(const char* name) { return QStringLiteral(QUIBREL_FIXTURE_DIR "/") + QLatin1String(name); }

class NavigationTest : public MainWindowTest {
protected:
    void SetUp() override {
        form_ = std::make_unique<TMainForm>();
        history_ = new THistoryForm(form_.get());
        ASSERT_EQ(HistoryForm, history_);
        form_->show();
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
        form_->OpenTypeLib(Fixture("QuibrelTest.tlb"));
        ASSERT_GT(form_->lvClasses->topLevelItemCount(), 0);
    }
    int ClassIndex(const QString& name) const { return RowOf(form_->lvClasses, name); }
    int MemberIndex(const QString& name) const { return RowOf(form_->lvMembers, name); }
    QStringList HistoryTexts() const {
        QStringList texts;
        for (int i = 0; i < history_->Count(); ++i) texts << history_->Entry(i).Text;
        return texts;
    }

    // Clicks the hot spot phrase in the documentation pane with the mouse; false when the
    // pane does not show it.
    bool ClickHotSpot(const QString& phrase) {
        auto* memo = static_cast<TColorMemo*>(form_->txtDoc->Widget());
        const int at = int(memo->text().indexOf(QLatin1Char('<') + phrase + QLatin1Char('>')));
        if (at < 0) return false;
        const int middle = at + 1 + int(phrase.size()) / 2;
        const TPoint a = memo->EditControl().PosFromChar(middle);
        const QPoint point(a.X + 2, a.Y + memo->EditControl().LineHeight() / 2);
        QWidget* view = memo->viewport();
        for (QEvent::Type type : {QEvent::MouseMove, QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
            const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
            QMouseEvent event(type, QPointF(point), QPointF(view->mapToGlobal(point)), button, held, Qt::NoModifier);
            QApplication::sendEvent(view, &event);
        }
        return true;
    }

    THistoryForm* history_ = nullptr;
};
