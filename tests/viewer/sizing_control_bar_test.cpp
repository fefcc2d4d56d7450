// The sizing bar's own sizes: profile persistence with the minimum rule, and the common
// thickness of the bars sharing a dock area.

#include "platform/profile.h"
#include "viewer/sizing_control_bar.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>

namespace {

class SizingBar : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettings();
        frame.resize(900, 700);
        frame.setCentralWidget(new QWidget(&frame));
        ASSERT_TRUE(first->Create(QStringLiteral("First"), &frame, QSize(200, 100), true, 4001));
        ASSERT_TRUE(second->Create(QStringLiteral("Second"), &frame, QSize(200, 100), true, 4002));
        for (CSizingControlBar* bar : {first, second}) bar->SetMinSize(QSize(100, 100));
    }

    QMainWindow frame;
    CSizingControlBar* first = new CSizingControlBar(&frame);
    CSizingControlBar* second = new CSizingControlBar(&frame);
};

TEST_F(SizingBar, CreateGivesEverySizeTheDefault) {
    EXPECT_EQ(first->Id(), 4001);
    EXPECT_EQ(first->objectName(), QStringLiteral("SCBar-4001"));
    for (QSize size : {first->HorzSize(), first->VertSize(), first->FloatSize()}) EXPECT_EQ(size, QSize(200, 100));
    EXPECT_FALSE(CSizingControlBar().Create(QStringLiteral("Orphan"), nullptr, QSize(10, 10), true, 1));
}

TEST_F(SizingBar, SizesRoundTripThroughTheProfile) {
    first->SetHorzSize(QSize(640, 120));
    first->SetVertSize(QSize(230, 410));
    first->SetFloatSize(QSize(300, 500));
    second->SetVertSize(QSize(150, 150));
    CSizingControlBar::SaveAllBarSizes(QStringLiteral("Layout"));
    EXPECT_EQ(Profile::GetInt(QStringLiteral("Layout-SCBar-4001"), QStringLiteral("sizeHorzCX"), 0), 640);
    EXPECT_EQ(Profile::GetInt(QStringLiteral("Layout-SCBar-4001"), QStringLiteral("sizeFloatCY"), 0), 500);

    for (CSizingControlBar* bar : {first, second}) {
        bar->SetHorzSize(QSize(1, 1));
        bar->SetVertSize(QSize(1, 1));
        bar->SetFloatSize(QSize(1, 1));
    }
    CSizingControlBar::LoadAllBarSizes(QStringLiteral("Layout"));
    EXPECT_EQ(first->HorzSize(), QSize(640, 120));
    EXPECT_EQ(first->VertSize(), QSize(230, 410));
    EXPECT_EQ(first->FloatSize(), QSize(300, 500));
    EXPECT_EQ(second->VertSize(), QSize(150, 150));
}

TEST_F(SizingBar, LoadingRaisesSmallValuesToTheMinimumAndKeepsMissingOnes) {
    const QString section = QStringLiteral("Saved-SCBar-4001");
    Profile::WriteInt(section, QStringLiteral("sizeHorzCX"), 50);
    Profile::WriteInt(section, QStringLiteral("sizeHorzCY"), 99);
    Profile::WriteInt(section, QStringLiteral("sizeVertCX"), 100);
    Profile::WriteInt(section, QStringLiteral("sizeVertCY"), -5);
    Profile::WriteString(section, QStringLiteral("sizeFloatCX"), QStringLiteral("wide"));
    first->SetFloatSize(QSize(321, 432));
    first->LoadSizes(QStringLiteral("Saved"));
    EXPECT_EQ(first->HorzSize(), QSize(100, 100));
    EXPECT_EQ(first->VertSize(), QSize(100, 100));
    EXPECT_EQ(first->FloatSize(), QSize(321, 432)) << "unreadable and missing values keep the current size";
}

TEST_F(SizingBar, BarsOfOneDockAreaShareTheLargestThickness) {
    frame.addDockWidget(Qt::LeftDockWidgetArea, first);
    frame.addDockWidget(Qt::LeftDockWidgetArea, second);
    first->show();
    second->show();
    frame.show();
    QApplication::processEvents();
    first->SetVertSize(QSize(260, 200));
    second->SetVertSize(QSize(180, 400));
    CSizingControlBar::LayOutDocks(&frame);
    QApplication::processEvents();
    EXPECT_EQ(first->VertSize().width(), 260);
    EXPECT_EQ(second->VertSize().width(), 260);
    EXPECT_EQ(first->width(), 260);
    EXPECT_EQ(second->width(), 260);
    EXPECT_LT(first->height(), second->height()) << "each keeps its share of the length";
    EXPECT_TRUE(first->IsVertDocked());
    EXPECT_FALSE(first->IsHorzDocked());

    // Once tracking, a size the user gives the bar becomes its docked size.
    first->SetTrackSizes(true);
    frame.resizeDocks({first}, {300}, Qt::Horizontal);
    QApplication::processEvents();
    EXPECT_EQ(first->VertSize().width(), 300);
}

}  // namespace
