// The progress popup: the percentage in its caption, cancelling, and its remembered place.

#include "browser/progress_popup.h"
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

const QString kSettings = QStringLiteral("Settings");

class ProgressPopup : public ::testing::Test {
protected:
    void SetUp() override {
        owner.resize(800, 600);
        owner.show();
    }
    QWidget owner;
};

TEST_F(ProgressPopup, CaptionCarriesThePercentageDone) {
    CProgressPopup popup;
    ASSERT_TRUE(popup.Create(&owner, QStringLiteral("Thumbnails"), true));
    EXPECT_TRUE(popup.isVisible());
    EXPECT_EQ(popup.windowTitle(), QStringLiteral("Thumbnails"));
    EXPECT_EQ(popup.CancelButton()->text(), QStringLiteral(" Cancel "));
    popup.SetText(QStringLiteral("Creating Thumbnails... Please be patient!"));
    EXPECT_EQ(popup.Message()->text(), QStringLiteral("Creating Thumbnails... Please be patient!"));

    popup.SetRange(0, 4, 1);
    EXPECT_EQ(popup.StepIt(), 1);
    EXPECT_EQ(popup.windowTitle(), QStringLiteral("Thumbnails [25%]"));
    for (int i = 0; i < 3; ++i) popup.StepIt();
    EXPECT_EQ(popup.windowTitle(), QStringLiteral("Thumbnails [100%]"));

    // A range whose lower bound is not below its upper bound shows 0%.
    popup.SetRange(5, 5, 1);
    popup.SetPos(3);
    EXPECT_EQ(popup.Percent(), 0);
    EXPECT_EQ(popup.windowTitle(), QStringLiteral("Thumbnails [0%]"));
    // No overflow near the top of the range.
    popup.SetRange(0, 2000000000, 1);
    popup.SetPos(1000000000);
    EXPECT_EQ(popup.Percent(), 50);
    // The message is cut at 511 characters.
    popup.SetText(QString(600, QLatin1Char('x')));
    EXPECT_EQ(popup.Message()->text().size(), 511);
}

TEST_F(ProgressPopup, EscapeOrTheCancelButtonCancelWhileEventsAreDispatched) {
    {
        CProgressPopup popup;
        popup.Create(&owner, QStringLiteral("Job"));
        // A key typed anywhere in the program is only seen while the popup dispatches.
        QCoreApplication::postEvent(&owner, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        popup.PumpMessages(false);
        EXPECT_FALSE(popup.Cancelled()) << "Escape counts only when asked to";
        QCoreApplication::postEvent(&owner, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        popup.PumpMessages(true);
        EXPECT_TRUE(popup.Cancelled());
        EXPECT_FALSE(popup.isVisible());
        popup.StepIt();
        EXPECT_FALSE(popup.isVisible()) << "a cancelled job does not show it again";
    }
    {
        CProgressPopup popup;
        popup.Create(&owner, QStringLiteral("Job"));
        QMetaObject::invokeMethod(popup.CancelButton(), &QPushButton::click, Qt::QueuedConnection);
        EXPECT_FALSE(popup.Cancelled());
        popup.PumpMessages(true);
        EXPECT_TRUE(popup.Cancelled());
    }
}

TEST_F(ProgressPopup, RemembersItsPlaceWhileItLiesOnTheScreen) {
    const QSize screen = QGuiApplication::primaryScreen()->size();
    Profile::WriteInt(kSettings, QStringLiteral("X"), 40);
    Profile::WriteInt(kSettings, QStringLiteral("Y"), 50);
    {
        CProgressPopup popup;
        popup.Create(&owner, QStringLiteral("Job"));
        EXPECT_EQ(popup.pos(), QPoint(40, 50));
        popup.move(70, 80);
    }
    EXPECT_EQ(Profile::GetInt(kSettings, QStringLiteral("X"), -1), 70);
    EXPECT_EQ(Profile::GetInt(kSettings, QStringLiteral("Y"), -1), 80);

    for (const QPoint saved : {QPoint(screen.width(), 10), QPoint(10, -1), QPoint(-5, 10)}) {
        Profile::WriteInt(kSettings, QStringLiteral("X"), saved.x());
        Profile::WriteInt(kSettings, QStringLiteral("Y"), saved.y());
        CProgressPopup popup;
        popup.Create(&owner, QStringLiteral("Job"));
        EXPECT_LE((popup.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 4)
            << saved.x() << "," << saved.y();
    }
}

}  // namespace
