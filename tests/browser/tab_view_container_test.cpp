// The tab container: which page shows after activation and removal, and its margin.

#include "browser/tab_view_container.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

namespace {

// A page that counts how often it is shown and hidden.
class CountingPage : public QWidget {
public:
    int shows = 0;
    int hides = 0;

protected:
    void showEvent(QShowEvent*) override { ++shows; }
    void hideEvent(QHideEvent*) override { ++hides; }
};

class TabViewContainer : public ::testing::Test {
protected:
    void SetUp() override {
        tabs.resize(300, 200);
        for (int i = 0; i < 3; ++i) {
            pages[i] = new CountingPage;
            ASSERT_TRUE(tabs.AppendPage(pages[i], QStringLiteral("Page %1").arg(i), false));
        }
        tabs.show();
    }

    std::vector<bool> Visible() const {
        std::vector<bool> visible;
        for (const auto& page : pages) visible.push_back(page && page->isVisible());
        return visible;
    }

    COX3DTabViewContainer tabs;
    QPointer<CountingPage> pages[3];
};

TEST_F(TabViewContainer, ActivationShowsOnePageAtATime) {
    EXPECT_EQ(tabs.CurrentPageIndex(), -1);
    EXPECT_EQ(Visible(), (std::vector<bool>{false, false, false}));
    ASSERT_TRUE(tabs.ActivatePage(1));
    EXPECT_EQ(Visible(), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(pages[1]->geometry(), tabs.PageRect());
    EXPECT_EQ(tabs.TabBar()->currentIndex(), 1);

    // The active page again: no hide, no show.
    const int shows = pages[1]->shows;
    const int hides = pages[1]->hides;
    ASSERT_TRUE(tabs.ActivatePage(1));
    EXPECT_EQ(pages[1]->shows, shows);
    EXPECT_EQ(pages[1]->hides, hides);

    // -1 hides the page and shows none.
    EXPECT_FALSE(tabs.ActivatePage(-1));
    EXPECT_EQ(Visible(), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(tabs.ActivePage(), nullptr);

    // Insertion fails outside 0..count and without a window.
    EXPECT_FALSE(tabs.InsertPage(5, new QWidget(&tabs), QStringLiteral("far")));
    EXPECT_FALSE(tabs.InsertPage(-1, new QWidget(&tabs), QStringLiteral("before")));
    EXPECT_FALSE(tabs.InsertPage(0, nullptr, QStringLiteral("none")));
    EXPECT_EQ(tabs.PageCount(), 3);
}

TEST_F(TabViewContainer, AClickedTabActivatesItsPageAndIsReported) {
    tabs.ActivatePage(0);
    QSignalSpy changes(&tabs, &COX3DTabViewContainer::PageChanged);
    QTest::mouseClick(tabs.TabBar(), Qt::LeftButton, {}, tabs.TabBar()->tabRect(2).center());
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.front().front().toInt(), 2);
    EXPECT_EQ(tabs.CurrentPageIndex(), 2);
    EXPECT_EQ(Visible(), (std::vector<bool>{false, false, true}));
    // Activation by the program is not a click.
    tabs.ActivatePage(0);
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(TabViewContainer, RemovingTheActivePageHandsOver) {
    tabs.ActivatePage(2);
    // The active last page of three: the first takes over.
    ASSERT_TRUE(tabs.RemovePage(2, true));
    EXPECT_TRUE(pages[2].isNull()) << "destroyed";
    EXPECT_EQ(tabs.CurrentPageIndex(), 0);
    EXPECT_TRUE(pages[0]->isVisible());

    // The active page of two: the other one.
    ASSERT_TRUE(tabs.RemovePage(pages[0], false));
    EXPECT_FALSE(pages[0].isNull()) << "kept without the destroy flag";
    EXPECT_FALSE(pages[0]->isVisible());
    EXPECT_EQ(tabs.CurrentPageIndex(), 0);
    EXPECT_EQ(tabs.ActivePage(), pages[1]);
    EXPECT_TRUE(pages[1]->isVisible());

    // The only page: none.
    ASSERT_TRUE(tabs.RemovePage(0, true));
    EXPECT_EQ(tabs.CurrentPageIndex(), -1);
    EXPECT_FALSE(tabs.RemovePage(0, true));
    delete pages[0].data();
}

TEST_F(TabViewContainer, MarginLeavesNoPageAreaInATinyContainer) {
    tabs.ActivatePage(0);
    const int margin = COX3DTabViewContainer::kMargin;
    EXPECT_EQ(tabs.contentsRect(), tabs.rect().adjusted(margin, margin, -margin, -margin));
    tabs.resize(300, 10);
    EXPECT_EQ(tabs.contentsRect().height(), 0);
    EXPECT_EQ(tabs.PageRect().height(), 0);
    tabs.resize(300, 11);
    EXPECT_EQ(tabs.contentsRect().height(), 1);
    tabs.resize(300, 200);
    EXPECT_GT(tabs.PageRect().height(), 100);
    EXPECT_LT(tabs.PageRect().bottom(), tabs.TabBar()->geometry().top()) << "the tabs sit below the pages";
}

}  // namespace
