// The whole program browsing a folder with keys, wheel and menus on the picture, and the
// status bar's picture panes following it; the display mode as the profile keeps it.

#include "browser/file_list_bar.h"
#include "browser/image_file_list.h"
#include "browser/viewer_model.h"
#include "platform/profile.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/main_frame.h"
#include "viewer/test11_app.h"
#include "viewer/test11_doc.h"
#include "viewer/test11_view.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QWheelEvent>

#include <climits>
#include <memory>
#include <optional>

namespace {

class PictureBrowsing : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettings();
        QLocale::setDefault(QLocale::c());
        folder = QString::fromStdString(dir.Path().string());
        // Three pictures of different sizes, in the list's order.
        for (const auto& [name, size] : {std::pair{"a.bmp", QSize(64, 48)}, {"b.bmp", QSize(120, 30)}, {"c.bmp", QSize(50, 80)}})
            WriteBmp32(dir.File(name), size.width(), size.height(), [](int x, int y) { return qRgb(x, y, 7); });
        Profile::WriteString(QStringLiteral("Settings"), QStringLiteral("LastDirectoryUsed"), folder);
        app = std::make_unique<CTest11App>();
        ASSERT_TRUE(app->InitInstance({QStringLiteral("vtview"), QStringLiteral("--no-splash")}));
        QApplication::processEvents();
        ASSERT_EQ(Frame().FileList()->NamesList()->count(), 3);
        Frame().FileList()->NamesList()->SelectRow(0);
        ASSERT_TRUE(WaitForPicture(*app->Document()));
        QApplication::setActiveWindow(&Frame());
        View().setFocus();
    }
    void TearDown() override {
        app.reset();
        QLocale::setDefault(QLocale::system());
    }

    CMainFrame& Frame() { return *app->MainFrame(); }
    CTest11View& View() { return *app->View(); }
    QString Pane(const char* name) {
        const auto* pane = Frame().statusBar()->findChild<QLabel*>(QLatin1String(name));
        return pane && pane->isVisibleTo(Frame().statusBar()) ? pane->text() : QStringLiteral("(hidden)");
    }
    QString Shown() { return QFileInfo(app->Document()->PathName()).fileName(); }
    // The user presses key on the picture, and the picture it asks for shows.
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&View(), key, modifiers);
        ASSERT_TRUE(WaitForPicture(*app->Document()));
    }

    TempDir dir;
    QString folder;
    CRecordingSeam seam;
    std::unique_ptr<CTest11App> app;
};

TEST_F(PictureBrowsing, KeysAndWheelOnThePictureStepTheListAndThePanesFollow) {
    EXPECT_EQ(Shown(), QStringLiteral("a.bmp"));
    EXPECT_EQ(Pane("PictureSizePane"), QStringLiteral("64 x 48"));
    EXPECT_EQ(Pane("PictureScalePane"), QStringLiteral("100 %"));
    EXPECT_EQ(Pane("PicturePositionPane"), QStringLiteral("1 of 3"));
    const qint64 bytes = QFileInfo(QString::fromStdString(dir.File("a.bmp"))).size();
    ASSERT_GT(bytes, 1024 * 10);
    EXPECT_EQ(Pane("FileSizePane"), QStringLiteral("%1 kB").arg(bytes / 1024.0, 0, 'f', 1));
    // They sit between the prompt and the lock indicators.
    EXPECT_LT(Frame().statusBar()->findChild<QLabel*>(QStringLiteral("FileSizePane"))->x(), Frame().IndicatorPane(0)->x());

    Press(Qt::Key_Right);
    EXPECT_EQ(Shown(), QStringLiteral("b.bmp"));
    EXPECT_EQ(Frame().FileList()->SelectedIndex(), 1);
    EXPECT_EQ(Pane("PicturePositionPane"), QStringLiteral("2 of 3"));
    EXPECT_EQ(Pane("PictureSizePane"), QStringLiteral("120 x 30"));
    Press(Qt::Key_Space);
    EXPECT_EQ(Shown(), QStringLiteral("c.bmp"));
    QTest::keyClick(&View(), Qt::Key_PageDown);
    EXPECT_FALSE(app->Document()->IsLoading()) << "past the last picture nothing changes";
    EXPECT_EQ(Frame().FileList()->SelectedIndex(), 2);
    Press(Qt::Key_Backspace);
    EXPECT_EQ(Shown(), QStringLiteral("b.bmp"));

    // The wheel over a picture that fits steps too.
    const QPoint middle = View().viewport()->rect().center();
    QWheelEvent down(QPointF(middle), QPointF(View().viewport()->mapToGlobal(middle)), QPoint(),
                     QPoint(0, -CTest11View::kWheelStep), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(View().viewport(), &down);
    ASSERT_TRUE(WaitForPicture(*app->Document()));
    EXPECT_EQ(Shown(), QStringLiteral("c.bmp"));
    EXPECT_EQ(Pane("PicturePositionPane"), QStringLiteral("3 of 3"));

    // The scale follows every mode: proportional (F), stretch to fill (across and down
    // apart), a zoom, and a turned picture's size.
    Press(Qt::Key_F);
    const QSize client = View().viewport()->size();
    EXPECT_EQ(Pane("PictureScalePane"), QStringLiteral("%1 %").arg(qRound(100.0 * View().Layout().target.height() / 80)));
    EXPECT_GT(View().Layout().target.height(), 80 * 2) << client.width() << " x " << client.height();
    Press(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(Pane("PictureScalePane"),
              QStringLiteral("%1 x %2 %").arg(qRound(100.0 * client.width() / 50)).arg(qRound(100.0 * client.height() / 80)));
    Press(Qt::Key_1);
    Press(Qt::Key_Plus);
    EXPECT_EQ(Pane("PictureScalePane"), QStringLiteral("129 %"));
    QSignalSpy turned(app->Document(), &CTest11Doc::Turned);
    QTest::keyClick(&View(), Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(turned.wait(20000));
    EXPECT_EQ(Pane("PictureSizePane"), QStringLiteral("80 x 50"));
    QTest::keyClick(&View(), Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(turned.wait(20000));
    EXPECT_EQ(Pane("PictureSizePane"), QStringLiteral("50 x 80"));

    // Without a picture the panes go.
    Frame().Model().g_bImageLoaded = false;
    app->Document()->UpdateAllViews();
    EXPECT_EQ(Pane("PictureSizePane"), QStringLiteral("(hidden)"));
    EXPECT_EQ(Pane("PictureScalePane"), QStringLiteral("(hidden)"));
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST_F(PictureBrowsing, MenusOfferTurningAndTransparency) {
    const auto menu = [this](const QString& title) -> QMenu* {
        for (QAction* action : Frame().menuBar()->actions())
            if (action->text() == title) return action->menu();
        return nullptr;
    };
    QMenu* edit = menu(QStringLiteral("&Edit"));
    ASSERT_NE(edit, nullptr);
    QStringList texts;
    for (QAction* action : edit->actions()) texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(texts.mid(texts.size() - 5), (QStringList{"-", "Rotate Left\tCtrl+L", "Rotate Right\tCtrl+Shift+L",
                                                        "Flip Horizontally", "Flip Vertically"}));

    QMenu* view = menu(QStringLiteral("&View"));
    ASSERT_NE(view, nullptr);
    QMenu* transparency = nullptr;
    for (QAction* action : view->actions())
        if (action->menu() && action->text() == QStringLiteral("Transparency")) transparency = action->menu();
    ASSERT_NE(transparency, nullptr);
    ASSERT_EQ(transparency->actions().size(), 2);
    Frame().Commands().UpdateAll();
    EXPECT_EQ(transparency->actions()[0]->text(), QStringLiteral("Checkerboard"));
    EXPECT_TRUE(transparency->actions()[0]->isChecked());
    transparency->actions()[1]->trigger();
    EXPECT_EQ(View().GetTransparency(), CTest11View::Transparency::Background);
    EXPECT_EQ(Profile::GetInt(QStringLiteral("Settings"), QStringLiteral("Transparency"), -1), 1);
}

TEST(DisplayModeNumbers, EveryStoredNumberReadsAsItsModeAndDamageReadsAsNothing) {
    EXPECT_EQ(DisplayMode::FromStored(0), DisplayMode::Natural());
    EXPECT_EQ(DisplayMode::FromStored(1), DisplayMode::StretchToFill());
    EXPECT_EQ(DisplayMode::FromStored(2), DisplayMode::Proportional());
    EXPECT_EQ(DisplayMode::FromStored(3), DisplayMode::Tile());
    for (int value : {9, 23, 475, 1000}) {
        const std::optional<DisplayMode> mode = DisplayMode::FromStored(value);
        ASSERT_TRUE(mode) << value;
        EXPECT_TRUE(mode->IsZoom());
        EXPECT_EQ(mode->ZoomPercent(), value);
        EXPECT_EQ(mode->Stored(), value);
    }
    for (int value : {-1, 4, 8, 1001, INT_MAX}) EXPECT_FALSE(DisplayMode::FromStored(value)) << value;
    EXPECT_EQ(DisplayMode::Zoom(5000).Stored(), DisplayMode::kLargestZoom);
    EXPECT_EQ(DisplayMode::Zoom(0).Stored(), DisplayMode::kSmallestZoom) << "a zoom is never mistaken for a mode";
}

}  // namespace
