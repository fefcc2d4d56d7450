// Keys, wheel and mouse on the image view: stepping pictures, zoom about the cursor,
// panning, the transparency choice and turning the picture.

#include "browser/viewer_model.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/text_exception.h"
#include "platform/profile.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"
#include "viewer/display_layout.h"
#include "viewer/picture_turn.h"
#include "viewer/test11_doc.h"
#include "viewer/test11_view.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDeadlineTimer>
#include <QFile>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <vector>

namespace {

constexpr int kWheelNotch = CTest11View::kWheelStep;

// Each pixel tells where it lies: red = x, green = y (both modulo 256).
QRgb Coded(int x, int y) { return qRgb(x & 0xFF, y & 0xFF, 0x80); }

void Wheel(CTest11View& view, QPoint at, int angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWheelEvent event(QPointF(at), QPointF(view.viewport()->mapToGlobal(at)), QPoint(), QPoint(0, angle),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &event);
}

class ViewInput : public ::testing::Test {
protected:
    void SetUp() override {
        view.resize(400, 400);
        view.show();
        QApplication::processEvents();
        // The frame's commands, as the view sends them.
        for (int id : {ID_NEXT_IMAGE, ID_PREVIOUS_IMAGE, ID_FIRST_IMAGE, ID_LAST_IMAGE, ID_FULL_SCREEN})
            commands.SetHandler(id, [this, id] { sent.push_back(id); });
    }

    // Each size is a file of its own.
    void OpenCoded(int width, int height) {
        const std::string path = dir.File("coded-" + std::to_string(width) + "x" + std::to_string(height) + ".bmp");
        WriteBmp32(path, width, height, [](int x, int y) { return Coded(x, y) & 0x00FFFFFF; });
        ASSERT_TRUE(OpenAndWait(document, QString::fromStdString(path)));
    }

    // The point of the picture (in its own pixels) under a viewport point.
    QPointF PictureAt(QPoint at) const {
        const QRect target = view.Layout().target;
        const QSize picture = document.Bitmap().size();
        const QPointF onTarget = QPointF(at + view.ScrollPosition() - target.topLeft());
        return {onTarget.x() * picture.width() / target.width(), onTarget.y() * picture.height() / target.height()};
    }

    // Runs a turn command and waits for the turned picture.
    void Turn(int id) {
        QSignalSpy turned(&document, &CTest11Doc::Turned);
        ASSERT_TRUE(commands.Execute(id)) << id;
        ASSERT_TRUE(turned.wait(20000)) << id;
    }

    // The picture point under at stays there, and the screen shows that pixel there.
    void ExpectKeptUnder(QPoint at, QPointF before, const char* what) {
        const QPointF after = PictureAt(at);
        EXPECT_NEAR(after.x(), before.x(), 1.0) << what;
        EXPECT_NEAR(after.y(), before.y(), 1.0) << what;
        const QRgb shown = RenderViewport(view).pixel(at);
        EXPECT_NEAR(qRed(shown), static_cast<int>(before.x()) & 0xFF, 3) << what;
        EXPECT_NEAR(qGreen(shown), static_cast<int>(before.y()) & 0xFF, 3) << what;
    }

    const bool settingsCleared = (RemoveSettings(), true);
    TempDir dir;
    CRecordingSeam seam;
    CViewerModel model;
    CTest11Doc document{model};
    CCommandTable commands;
    CTest11View view{document, commands};
    std::vector<int> sent;
};

TEST_F(ViewInput, KeysStepThroughPicturesAndChooseTheMode) {
    OpenCoded(60, 40);
    struct Case {
        Qt::Key key;
        int id;
    };
    const std::vector<Case> steps = {
        {Qt::Key_Right, ID_NEXT_IMAGE},    {Qt::Key_Down, ID_NEXT_IMAGE},     {Qt::Key_Space, ID_NEXT_IMAGE},
        {Qt::Key_PageDown, ID_NEXT_IMAGE}, {Qt::Key_Left, ID_PREVIOUS_IMAGE}, {Qt::Key_Up, ID_PREVIOUS_IMAGE},
        {Qt::Key_Backspace, ID_PREVIOUS_IMAGE}, {Qt::Key_PageUp, ID_PREVIOUS_IMAGE},
        {Qt::Key_Home, ID_FIRST_IMAGE},    {Qt::Key_End, ID_LAST_IMAGE},
    };
    for (const Case& c : steps) {
        sent.clear();
        QTest::keyClick(&view, c.key);
        EXPECT_EQ(sent, std::vector<int>{c.id}) << QKeySequence(c.key).toString().toStdString();
    }

    sent.clear();
    QTest::keyClick(&view, Qt::Key_F);
    EXPECT_EQ(model.StretchState, DisplayMode::Proportional());
    EXPECT_EQ(view.Layout().target.size(), QSize(400, 266));
    QTest::keyClick(&view, Qt::Key_Plus);
    EXPECT_EQ(model.StretchState, DisplayMode::Natural()) << "a zoom step from a stretch mode";
    QTest::keyClick(&view, Qt::Key_Plus);
    QTest::keyClick(&view, Qt::Key_Plus);
    EXPECT_EQ(model.StretchState, DisplayMode::Zoom(167));
    QTest::keyClick(&view, Qt::Key_Minus);
    EXPECT_EQ(model.StretchState, DisplayMode::Natural()) << "116 percent snaps to natural size";
    QTest::keyClick(&view, Qt::Key_Equal);
    EXPECT_EQ(model.StretchState, DisplayMode::Zoom(129));
    QTest::keyClick(&view, Qt::Key_1);
    EXPECT_EQ(model.StretchState, DisplayMode::Natural());
    EXPECT_EQ(view.Layout().target.size(), QSize(60, 40));
    // Keys with Ctrl are the frame's shortcuts, and Escape is the frame's too.
    QTest::keyClick(&view, Qt::Key_Right, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_TRUE(sent.empty());

    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(200, 200));
    EXPECT_EQ(sent, std::vector<int>{ID_FULL_SCREEN});
}

TEST_F(ViewInput, CtrlWheelZoomsAboutTheCursorWithinTheZoomLimits) {
    OpenCoded(300, 300);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(commands.Execute(ID_ZOOM_IN));
    ASSERT_EQ(model.StretchState, DisplayMode::Zoom(217));
    QApplication::processEvents();

    const QPoint cursor(290, 110);
    QPointF before = PictureAt(cursor);
    Wheel(view, cursor, kWheelNotch, Qt::ControlModifier);
    EXPECT_EQ(model.StretchState, DisplayMode::Zoom(282));
    ExpectKeptUnder(cursor, before, "zoom in");

    // A touchpad's small steps add up to one notch.
    before = PictureAt(cursor);
    Wheel(view, cursor, -40, Qt::ControlModifier);
    Wheel(view, cursor, -40, Qt::ControlModifier);
    EXPECT_EQ(model.StretchState, DisplayMode::Zoom(282));
    Wheel(view, cursor, -40, Qt::ControlModifier);
    EXPECT_EQ(model.StretchState, DisplayMode::Zoom(197));
    ExpectKeptUnder(cursor, before, "zoom out");

    for (int i = 0; i < 10; ++i) Wheel(view, cursor, kWheelNotch, Qt::ControlModifier);
    EXPECT_EQ(model.StretchState, DisplayMode::Zoom(431)) << "256, 332, 431, then zoom in stops";
    for (int i = 0; i < 20; ++i) Wheel(view, cursor, -kWheelNotch, Qt::ControlModifier);
    EXPECT_EQ(model.StretchState, DisplayMode::Zoom(23)) << "zoom out stops below 30 percent";
    EXPECT_TRUE(sent.empty());
}

TEST_F(ViewInput, ZoomKeysKeepThePointUnderTheCursorOrTheMiddle) {
    OpenCoded(600, 500);
    QApplication::processEvents();
    const QPoint cursor(120, 330);
    QCursor::setPos(view.viewport()->mapToGlobal(cursor));
    if (QCursor::pos() != view.viewport()->mapToGlobal(cursor)) GTEST_SKIP() << "this platform cannot move the cursor";
    QPointF before = PictureAt(cursor);
    QTest::keyClick(&view, Qt::Key_Plus);
    EXPECT_EQ(model.StretchState, DisplayMode::Zoom(129));
    ExpectKeptUnder(cursor, before, "+ under the cursor");

    // The cursor away from the picture: the middle of the window stays.
    QCursor::setPos(view.mapToGlobal(QPoint(-500, -500)));
    view.horizontalScrollBar()->setValue(100);
    view.verticalScrollBar()->setValue(100);
    const QPoint middle = view.viewport()->rect().center();
    before = PictureAt(middle);
    QTest::keyClick(&view, Qt::Key_Minus);
    EXPECT_EQ(model.StretchState, DisplayMode::Natural()) << "129 * 0.7 snaps to natural size";
    ExpectKeptUnder(middle, before, "- about the middle");
}

TEST_F(ViewInput, WheelScrollsALargePictureAndStepsPicturesThatFit) {
    OpenCoded(60, 40);
    Wheel(view, QPoint(200, 200), -kWheelNotch);
    EXPECT_EQ(sent, std::vector<int>{ID_NEXT_IMAGE}) << "down: the next picture";
    Wheel(view, QPoint(200, 200), kWheelNotch);
    EXPECT_EQ(sent, (std::vector<int>{ID_NEXT_IMAGE, ID_PREVIOUS_IMAGE}));
    sent.clear();
    Wheel(view, QPoint(200, 200), -80);
    Wheel(view, QPoint(200, 200), 60);
    EXPECT_TRUE(sent.empty()) << "a turn the other way starts afresh";
    Wheel(view, QPoint(200, 200), 60);
    EXPECT_EQ(sent, std::vector<int>{ID_PREVIOUS_IMAGE});

    sent.clear();
    OpenCoded(600, 900);
    QApplication::processEvents();
    ASSERT_EQ(view.verticalScrollBar()->value(), 0);
    Wheel(view, QPoint(200, 200), -kWheelNotch);
    EXPECT_GT(view.verticalScrollBar()->value(), 0);
    EXPECT_TRUE(sent.empty());
}

TEST_F(ViewInput, DraggingPansALargePictureWithAClosedHand) {
    OpenCoded(800, 600);
    QApplication::processEvents();
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(300, 300));
    EXPECT_EQ(view.viewport()->cursor().shape(), Qt::ClosedHandCursor);
    QTest::mouseMove(view.viewport(), QPoint(250, 260));
    QTest::mouseMove(view.viewport(), QPoint(200, 220));
    EXPECT_EQ(view.ScrollPosition(), QPoint(100, 80));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(200, 220));
    EXPECT_NE(view.viewport()->cursor().shape(), Qt::ClosedHandCursor);
    EXPECT_EQ(RenderViewport(view).pixel(0, 0), Coded(100, 80));
    // Past the edge the picture stops.
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(view.viewport(), QPoint(380, 380));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(380, 380));
    EXPECT_EQ(view.ScrollPosition(), QPoint(0, 0));

    // A picture that fits does not move.
    OpenCoded(60, 40);
    const QRect target = view.Layout().target;
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(200, 200));
    EXPECT_NE(view.viewport()->cursor().shape(), Qt::ClosedHandCursor);
    QTest::mouseMove(view.viewport(), QPoint(100, 100));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(view.ScrollPosition(), QPoint(0, 0));
    EXPECT_EQ(view.Layout().target, target);
}

TEST_F(ViewInput, TransparencyShowsOverTheChosenBackgroundAndTheChoiceIsKept) {
    // Left half clear (storing black), right half opaque blue.
    QImage picture(64, 32, QImage::Format_ARGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) picture.setPixel(x, y, x < 32 ? 0x00000000u : 0xFF0000FFu);
    const QString clear = QString::fromStdString(dir.File("clear.png"));
    ASSERT_TRUE(picture.save(clear, "PNG"));
    ASSERT_TRUE(OpenAndWait(document, clear));
    const QPoint origin = view.Layout().target.topLeft();
    const auto shownAt = [&](int x, int y) { return RenderViewport(view).pixel(origin + QPoint(x, y)); };

    EXPECT_TRUE(commands.IsChecked(ID_TRANSPARENCY_CHECKERBOARD));
    EXPECT_EQ(shownAt(1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(shownAt(9, 1), 0xFFCCCCCCu);

    ASSERT_TRUE(commands.Execute(ID_TRANSPARENCY_BACKGROUND));
    EXPECT_TRUE(commands.IsChecked(ID_TRANSPARENCY_BACKGROUND));
    EXPECT_FALSE(commands.IsChecked(ID_TRANSPARENCY_CHECKERBOARD));
    EXPECT_EQ(shownAt(9, 1), 0xFFFFFFFFu);
    EXPECT_EQ(shownAt(40, 1), 0xFF0000FFu);
    EXPECT_EQ(Profile::GetInt(QStringLiteral("Settings"), QStringLiteral("Transparency"), -1), 1);

    // A view made later reads the choice.
    CCommandTable otherCommands;
    CTest11View other(document, otherCommands);
    EXPECT_EQ(other.GetTransparency(), CTest11View::Transparency::Background);

    // A picture without transparency shows its colours whatever its alpha bytes hold.
    OpenCoded(60, 40);
    EXPECT_EQ(RenderViewport(view).pixel(view.Layout().target.topLeft() + QPoint(9, 1)), Coded(9, 1));

    ASSERT_TRUE(commands.Execute(ID_TRANSPARENCY_CHECKERBOARD));
    EXPECT_EQ(Profile::GetInt(QStringLiteral("Settings"), QStringLiteral("Transparency"), -1), 0);
}

TEST_F(ViewInput, TurningThePictureChangesWhatIsShownCopiedAndPrintedButNotTheFile) {
    document.RegisterCommands(commands);
    OpenCoded(60, 40);
    const QString path = QString::fromStdString(dir.File("coded-60x40.bmp"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray stored = file.readAll();
    file.close();
    const QImage original = document.Bitmap().copy();

    Turn(ID_ROTATE_RIGHT);
    const QImage& right = document.Bitmap();
    ASSERT_EQ(right.size(), QSize(40, 60));
    // Clockwise: the left column, bottom first, becomes the top row.
    EXPECT_EQ(right.pixel(0, 0), Coded(0, 39));
    EXPECT_EQ(right.pixel(39, 0), Coded(0, 0));
    EXPECT_EQ(right.pixel(39, 59), Coded(59, 0));
    EXPECT_EQ(view.Layout().target, QRect(180, 170, 40, 60));
    EXPECT_EQ(RenderViewport(view).pixel(180, 170), Coded(0, 39));
    // The clipboard and the wallpaper take the current bitmap.
    EXPECT_EQ(document.CurrentBitmap().Width(), 40);
    ASSERT_TRUE(commands.Execute(ID_EDIT_COPY));
    const QImage copied = QApplication::clipboard()->image();
    ASSERT_EQ(copied.size(), QSize(40, 60));
    EXPECT_EQ(copied.pixel(0, 0) | 0xFF000000u, Coded(0, 39));

    // The printed page shows it standing: every pixel of the picture has blue 0x80.
    QImage page(1000, 1000, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        view.OnPrint(painter, page.rect());
    }
    QRect printed;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (qBlue(page.pixel(x, y)) == 0x80 && qRed(page.pixel(x, y)) < 0x40) printed |= QRect(x, y, 1, 1);
    ASSERT_FALSE(printed.isEmpty());
    EXPECT_NEAR(static_cast<double>(printed.height()) / printed.width(), 1.5, 0.1);

    Turn(ID_ROTATE_LEFT);
    EXPECT_EQ(document.Bitmap(), original) << "left undoes right";
    Turn(ID_ROTATE_LEFT);
    EXPECT_EQ(document.Bitmap().pixel(0, 0), Coded(59, 0)) << "counter-clockwise: the right column becomes the top row";

    Turn(ID_ROTATE_RIGHT);
    Turn(ID_FLIP_HORIZONTALLY);
    EXPECT_EQ(document.Bitmap().pixel(0, 5), Coded(59, 5));
    Turn(ID_FLIP_VERTICALLY);
    EXPECT_EQ(document.Bitmap().pixel(0, 0), Coded(59, 39));
    Turn(ID_FLIP_HORIZONTALLY);
    Turn(ID_FLIP_VERTICALLY);
    EXPECT_EQ(document.Bitmap(), original);

    // Opening the picture again shows it as stored; the file never changed.
    Turn(ID_ROTATE_RIGHT);
    ASSERT_TRUE(OpenAndWait(document, path));
    EXPECT_EQ(document.Bitmap(), original);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), stored);
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST_F(ViewInput, TurnsAskedForInARowFollowInOrderAndANewPictureDropsThem) {
    OpenCoded(60, 40);
    QSignalSpy turned(&document, &CTest11Doc::Turned);
    for (int id : {ID_ROTATE_RIGHT, ID_ROTATE_RIGHT, ID_FLIP_HORIZONTALLY}) ASSERT_TRUE(commands.Execute(id));
    EXPECT_TRUE(document.IsTurning());
    while (turned.size() < 3) ASSERT_TRUE(turned.wait(20000));
    // A half turn, then mirrored left to right: the same as mirrored top to bottom.
    EXPECT_EQ(document.Bitmap().size(), QSize(60, 40));
    EXPECT_EQ(document.Bitmap().pixel(0, 0), Coded(0, 39));
    EXPECT_EQ(document.Bitmap().pixel(59, 0), Coded(59, 39));

    // The turn of the picture before lands, or is dropped, before the new one is touched.
    ASSERT_TRUE(commands.Execute(ID_ROTATE_LEFT));
    OpenCoded(30, 20);
    for (QDeadlineTimer deadline(20000); document.IsTurning() && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_FALSE(document.IsTurning());
    EXPECT_EQ(document.Bitmap().size(), QSize(30, 20));
    EXPECT_EQ(document.Bitmap().pixel(29, 0), Coded(29, 0));
}

TEST(PictureTurnCopy, KeepsTheAlphaFlagAndRefusesOtherDepths) {
    CDIBSectionBitmap picture;
    picture.Create(3, 2, 32, true);
    picture.PixelLine(1)[2] = BGRA{1, 2, 3, 4};
    const auto turned = TurnedPicture(picture, PictureTurn::RotateRight);
    ASSERT_EQ(turned->Size(), std::make_pair(2, 3));
    EXPECT_TRUE(turned->HasAlpha());
    EXPECT_EQ(turned->PixelLine(2)[0], (BGRA{1, 2, 3, 4}));
    EXPECT_EQ(picture.PixelLine(1)[2], (BGRA{1, 2, 3, 4})) << "the source stays as it is";

    picture.Create(3, 2, 8, false);
    try {
        TurnedPicture(picture, PictureTurn::FlipVertically);
        ADD_FAILURE() << "an 8-bit picture was turned";
    } catch (const CTextException& failure) {
        EXPECT_EQ(failure.Code(), ERR_CANNOT_HANDLE);
    }
}

TEST_F(ViewInput, NothingTurnsOrZoomsWithoutAPicture) {
    for (int id : {ID_ROTATE_LEFT, ID_ROTATE_RIGHT, ID_FLIP_HORIZONTALLY, ID_FLIP_VERTICALLY}) {
        EXPECT_FALSE(commands.IsEnabled(id)) << id;
    }
    Wheel(view, QPoint(200, 200), kWheelNotch, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Plus);
    EXPECT_EQ(model.StretchState, DisplayMode::Natural());
    EXPECT_TRUE(view.DisplayScale().isEmpty());
}

}  // namespace
