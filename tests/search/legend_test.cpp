// The legend window: its fixed tree with the lists' icons, and the ways to hide and show it.
#include "searchenv.h"

#include <QPushButton>

#include <functional>

namespace {

class LegendTest : public BrowserTest {
protected:
    void ShowLegend() {
        form_->miLegend->trigger();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(legend_));
    }
    // Every line as "indent text [icon index]", top to bottom, with whether it is visible.
    QStringList Lines() const {
        QStringList lines;
        QTreeWidget* tree = legend_->tvLegend;
        std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* node, int level) {
            int icon = -1;
            for (int i = 0; i < EntityIconCount; ++i)
                if (node->icon(0).cacheKey() == form_->ilMain[size_t(i)].cacheKey()) icon = i;
            const bool shown = !tree->visualItemRect(node).isEmpty() &&
                               tree->viewport()->rect().contains(tree->visualItemRect(node));
            lines << QString(level * 2, ' ') + node->text(0) + QStringLiteral(" [%1]").arg(icon) +
                         (shown ? "" : " hidden");
            for (int i = 0; i < node->childCount(); ++i) walk(node->child(i), level + 1);
        };
        for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i), 0);
        return lines;
    }
};

const QStringList kLegend = {"CoClass [0]",   "Interface [1]", "  Property [5]", "  Method [6]",
                             "  Event [7]",   "Enumeration [2]", "  Constant [8]", "Record [3]",
                             "  Field [9]",   "Alias [4]"};

TEST_F(LegendTest, NamesTheTenIconsOfTheListsInAnExpandedTree) {
    EXPECT_FALSE(legend_->isVisible());
    ShowLegend();
    EXPECT_EQ(legend_->windowTitle(), "Legend");
    EXPECT_TRUE(legend_->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(legend_->isModal());
    EXPECT_EQ(legend_->size(), QSize(151, 213));
    EXPECT_EQ(legend_->btnOK->geometry(), QRect(37, 180, 77, 25));
    // All ten lines fit and show, member kinds one level in.
    EXPECT_EQ(Lines(), kLegend);

    // The same pictures as the class list's rows.
    form_->OpenTypeLib(Fixture("QuibrelTest.tlb"));
    for (int i = 0; i < form_->lvClasses->topLevelItemCount(); ++i) {
        auto* row = static_cast<TClassRow*>(form_->lvClasses->topLevelItem(i));
        EXPECT_EQ(row->icon(0).cacheKey(), form_->ilMain[size_t(row->Icon)].cacheKey());
    }
}

TEST_F(LegendTest, EnterEscOKAndTheCloseBoxHideIt) {
    const std::function<void()> hides[] = {
        [&] { QTest::keyClick(legend_->tvLegend, Qt::Key_Return); },
        [&] { QTest::keyClick(legend_->tvLegend, Qt::Key_Escape); },
        [&] { QTest::mouseClick(legend_->btnOK, Qt::LeftButton); },
        [&] { legend_->close(); },
    };
    for (const auto& hide : hides) {
        ShowLegend();
        ASSERT_TRUE(legend_->isVisible());
        hide();
        EXPECT_FALSE(legend_->isVisible());
        EXPECT_EQ(LegendForm, legend_);
    }
    // A node the user collapsed stays collapsed.
    ShowLegend();
    legend_->tvLegend->topLevelItem(1)->setExpanded(false);
    legend_->close();
    ShowLegend();
    EXPECT_FALSE(legend_->tvLegend->topLevelItem(1)->isExpanded());
    EXPECT_TRUE(legend_->tvLegend->topLevelItem(2)->isExpanded());
}

}  // namespace
