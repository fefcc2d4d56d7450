// Where the image view puts the picture in each display mode, its scroll extents, and the
// mode and zoom commands with their check marks and enabled states.

#include "browser/viewer_model.h"
#include "viewer/display_layout.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"
#include "viewer/test11_doc.h"
#include "viewer/test11_view.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QScrollBar>

#include <vector>

namespace {

constexpr QRgb kPictureColour = 0xFFC81E32;

class ViewDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        SetViewport(400, 400);
        view.show();
    }

    void SetViewport(int width, int height) {
        view.resize(width, height);
        QApplication::processEvents();
    }

    // A picture of one colour whose alpha bytes are 0, as many files store them.
    void OpenPlain(int width, int height) {
        const std::string path = dir.File("plain.bmp");
        WriteBmp32(path, width, height, [](int, int) { return kPictureColour & 0x00FFFFFF; });
        ASSERT_TRUE(OpenAndWait(document, QString::fromStdString(path)));
    }

    // A picture whose every pixel tells where it lies: red = x, green = y.
    void OpenCoded(int width, int height) {
        const std::string path = dir.File("coded.bmp");
        WriteBmp32(path, width, height, [](int x, int y) { return qRgb(x & 0xFF, y & 0xFF, 0x80); });
        ASSERT_TRUE(OpenAndWait(document, QString::fromStdString(path)));
    }

    QRect Drawn() { return BoundsOf(RenderViewport(view), kPictureColour); }

    void Run(int id) { ASSERT_TRUE(commands.Execute(id)) << id; }

    TempDir dir;
    CRecordingSeam seam;
    CViewerModel model;
    CTest11Doc document{model};
    CCommandTable commands;
    CTest11View view{document, commands};
};

TEST_F(ViewDisplay, ProportionalStretchTouchesTwoSidesAndCentresTheOtherAxis) {
    struct Case {
        QSize picture;
        QRect drawn;
    };
    const std::vector<Case> cases = {
        {{100, 50}, {0, 100, 400, 200}},   // wider: full width, centred vertically
        {{50, 100}, {100, 0, 200, 400}},   // taller: full height, centred horizontally
        {{1600, 800}, {0, 100, 400, 200}}, // large pictures shrink the same way
        {{40, 40}, {0, 0, 400, 400}},      // equal ratios fill the client
    };
    model.StretchState = DisplayMode::Proportional();
    for (const Case& c : cases) {
        OpenPlain(c.picture.width(), c.picture.height());
        EXPECT_EQ(Drawn(), c.drawn) << c.picture.width() << " x " << c.picture.height();
        EXPECT_EQ(view.ScrollSizes(), QSize(400, 400));
        EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
    }
}

TEST_F(ViewDisplay, NaturalSizeCentresSmallPicturesAndScrollsLargeOnes) {
    OpenPlain(100, 50);
    EXPECT_EQ(Drawn(), QRect(150, 175, 100, 50));
    EXPECT_EQ(view.ScrollSizes(), QSize(100, 50));
    EXPECT_FALSE(view.horizontalScrollBar()->isVisible());
    EXPECT_FALSE(view.verticalScrollBar()->isVisible());

    OpenCoded(600, 500);
    QApplication::processEvents();
    EXPECT_EQ(view.ScrollSizes(), QSize(600, 500));
    EXPECT_TRUE(view.horizontalScrollBar()->isVisible());
    EXPECT_TRUE(view.verticalScrollBar()->isVisible());
    QImage shown = RenderViewport(view);
    EXPECT_EQ(shown.pixel(0, 0), qRgb(0, 0, 0x80)) << "drawn from the top-left corner";

    view.horizontalScrollBar()->setValue(50);
    view.verticalScrollBar()->setValue(30);
    shown = RenderViewport(view);
    EXPECT_EQ(shown.pixel(0, 0), qRgb(50, 30, 0x80));
    EXPECT_EQ(shown.pixel(10, 20), qRgb(60, 50, 0x80));
}

TEST_F(ViewDisplay, StretchToFillCoversTheWholeClient) {
    OpenPlain(100, 50);
    Run(ID_STRETCH_TO_FILL);
    EXPECT_EQ(Drawn(), QRect(0, 0, 400, 400));
    EXPECT_EQ(view.ScrollSizes(), QSize(400, 400));
}

TEST_F(ViewDisplay, TileRepeatsUnlessThePictureIsWiderAndTallerThanTheClient) {
    SetViewport(300, 200);
    model.StretchState = DisplayMode::Tile();
    // Narrower than the picture but not lower: tiled rows, 100 pixels apart.
    OpenCoded(400, 100);
    QImage shown = RenderViewport(view);
    EXPECT_EQ(view.ScrollSizes(), QSize(300, 200));
    EXPECT_EQ(shown.pixel(10, 20), qRgb(10, 20, 0x80));
    EXPECT_EQ(shown.pixel(10, 120), qRgb(10, 20, 0x80));
    EXPECT_EQ(shown.pixel(290, 199), qRgb(290 & 0xFF, 99, 0x80));

    // Smaller in both directions: copies left to right, then the next row.
    OpenCoded(120, 80);
    shown = RenderViewport(view);
    EXPECT_EQ(shown.pixel(130, 90), qRgb(10, 10, 0x80));
    EXPECT_EQ(shown.pixel(250, 170), qRgb(10, 10, 0x80));

    // Wider and taller than the client: one copy at the origin, scrolling over the picture.
    OpenCoded(400, 300);
    shown = RenderViewport(view);
    EXPECT_EQ(view.ScrollSizes(), QSize(400, 300));
    EXPECT_EQ(shown.pixel(5, 7), qRgb(5, 7, 0x80));
}

TEST_F(ViewDisplay, ZoomDrawsAScaledCentredPicture) {
    OpenPlain(100, 50);
    model.StretchState = DisplayMode::Zoom(200);
    document.UpdateAllViews();
    EXPECT_EQ(Drawn(), QRect(100, 150, 200, 100));
    EXPECT_EQ(view.ScrollSizes(), QSize(200, 100));

    model.StretchState = DisplayMode::Zoom(48);
    document.UpdateAllViews();
    EXPECT_EQ(Drawn(), QRect(176, 188, 48, 24));

    // Larger than the client: from the top-left corner, with scroll bars of the zoomed size.
    // Wider than the client: from the left edge, with a scroll bar of the zoomed width.
    model.StretchState = DisplayMode::Zoom(475);
    document.UpdateAllViews();
    QApplication::processEvents();
    EXPECT_EQ(view.ScrollSizes(), QSize(475, 237));
    EXPECT_TRUE(view.horizontalScrollBar()->isVisible());
    EXPECT_FALSE(view.verticalScrollBar()->isVisible());
    EXPECT_EQ(Drawn(), QRect(0, (view.viewport()->height() - 237) / 2, 400, 237));
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 75);
    EXPECT_EQ(Drawn().width(), 400);
}

TEST_F(ViewDisplay, PictureIsDrawnOpaqueWhateverItsAlphaBytesHold) {
    OpenPlain(100, 50);
    for (int id : {ID_ORIGINAL_SIZE, ID_PROPORTIONAL_STRETCH}) {
        Run(id);
        const QImage shown = RenderViewport(view);
        const QRect drawn = view.Layout().target;
        EXPECT_EQ(shown.pixel(drawn.center()), kPictureColour) << id;
    }
}

TEST_F(ViewDisplay, TransparencyShowsTheCheckerboardAndHalfTransparencyBlendsWithIt) {
    // Left third clear, middle third half-transparent red, right third opaque red; the clear
    // pixels store black, which must not show.
    QImage picture(96, 48, QImage::Format_ARGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 96; ++x) picture.setPixel(x, y, x < 32 ? 0x00000000u : x < 64 ? 0x80FF0000u : 0xFFFF0000u);
    const QString path = QString::fromStdString(dir.File("clear.png"));
    ASSERT_TRUE(picture.save(path, "PNG"));
    ASSERT_TRUE(OpenAndWait(document, path));
    ASSERT_TRUE(document.HasAlpha());
    Run(ID_ORIGINAL_SIZE);
    const QImage shown = RenderViewport(view);
    const QPoint origin = view.Layout().target.topLeft();
    // The checkerboard's first square is white, the next one light grey.
    EXPECT_EQ(shown.pixel(origin + QPoint(1, 1)), 0xFFFFFFFFu);
    EXPECT_EQ(shown.pixel(origin + QPoint(9, 1)), 0xFFCCCCCCu);
    const QRgb blended = shown.pixel(origin + QPoint(33, 1));
    EXPECT_EQ(qRed(blended), 255);
    EXPECT_NEAR(qGreen(blended), 127, 2) << "half of the white square shows through";
    EXPECT_EQ(shown.pixel(origin + QPoint(80, 20)), 0xFFFF0000u);
}

TEST_F(ViewDisplay, WithoutAnImageTheViewIsWhiteAndZoomIsDisabled) {
    EXPECT_TRUE(AllWhite(RenderViewport(view)));
    EXPECT_EQ(view.ScrollSizes(), QSize(1, 1));
    EXPECT_FALSE(commands.IsEnabled(ID_ZOOM_IN));
    EXPECT_FALSE(commands.IsEnabled(ID_ZOOM_OUT));
    EXPECT_FALSE(commands.Execute(ID_ZOOM_IN));
    EXPECT_EQ(model.StretchState, DisplayMode::Natural());
    // The mode commands are never disabled.
    EXPECT_TRUE(commands.Execute(ID_TILE));
    EXPECT_EQ(model.StretchState, DisplayMode::Tile());
}

TEST_F(ViewDisplay, ChoosingTheActiveModeAgainReturnsToNaturalSize) {
    OpenPlain(100, 50);
    struct Step {
        int id;
        DisplayMode state;
    };
    const std::vector<Step> steps = {
        {ID_STRETCH_TO_FILL, DisplayMode::StretchToFill()},   {ID_STRETCH_TO_FILL, DisplayMode::Natural()},
        {ID_PROPORTIONAL_STRETCH, DisplayMode::Proportional()}, {ID_TILE, DisplayMode::Tile()},
        {ID_TILE, DisplayMode::Natural()},                    {ID_PROPORTIONAL_STRETCH, DisplayMode::Proportional()},
        {ID_ORIGINAL_SIZE, DisplayMode::Natural()},           {ID_ORIGINAL_SIZE, DisplayMode::Natural()},
    };
    const std::vector<std::pair<int, DisplayMode>> marks = {{ID_ORIGINAL_SIZE, DisplayMode::Natural()},
                                                            {ID_STRETCH_TO_FILL, DisplayMode::StretchToFill()},
                                                            {ID_PROPORTIONAL_STRETCH, DisplayMode::Proportional()},
                                                            {ID_TILE, DisplayMode::Tile()}};
    for (const Step& step : steps) {
        Run(step.id);
        EXPECT_EQ(model.StretchState, step.state) << step.id;
        for (const auto& [id, mode] : marks) {
            EXPECT_EQ(commands.IsChecked(id), mode == step.state) << id;
            EXPECT_TRUE(commands.IsEnabled(id));
        }
    }
}

TEST_F(ViewDisplay, ZoomStepsFollowTheSingleFactorsAndStopAtTheirLimits) {
    OpenPlain(100, 50);
    const auto zoomUntilDisabled = [this](int id) {
        std::vector<int> states;
        while (commands.IsEnabled(id) && states.size() < 20) {
            Run(id);
            states.push_back(model.StretchState.Stored());
        }
        return states;
    };
    EXPECT_EQ(zoomUntilDisabled(ID_ZOOM_IN), (std::vector<int>{129, 167, 217, 282, 366, 475}));
    EXPECT_EQ(Drawn(), view.Layout().target.intersected(view.viewport()->rect()));

    Run(ID_ORIGINAL_SIZE);
    EXPECT_EQ(zoomUntilDisabled(ID_ZOOM_OUT), (std::vector<int>{69, 48, 33, 23}));

    // Near 100 percent snaps back to natural size.
    model.StretchState = DisplayMode::Zoom(69);
    Run(ID_ZOOM_IN);
    EXPECT_EQ(model.StretchState, DisplayMode::Natural());
    model.StretchState = DisplayMode::Zoom(48);
    Run(ID_ZOOM_IN);
    EXPECT_EQ(model.StretchState, DisplayMode::Zoom(62));
    Run(ID_ZOOM_IN);
    EXPECT_EQ(model.StretchState, DisplayMode::Natural());
}

TEST_F(ViewDisplay, ZoomFromAStretchModeOnlyReturnsToNaturalSize) {
    OpenPlain(100, 50);
    Run(ID_STRETCH_TO_FILL);
    Run(ID_ZOOM_IN);
    EXPECT_EQ(model.StretchState, DisplayMode::Natural());
    EXPECT_EQ(Drawn(), QRect(150, 175, 100, 50));
    Run(ID_ZOOM_IN);
    EXPECT_EQ(model.StretchState, DisplayMode::Zoom(129));
    Run(ID_TILE);
    Run(ID_ZOOM_OUT);
    EXPECT_EQ(model.StretchState, DisplayMode::Natural());
}

TEST_F(ViewDisplay, ContextMenuOffersEveryItemWithItsCommand) {
    // Texts and command ids in menu order; submenus as "title>" followed by their items.
    std::vector<std::pair<QString, int>> items;
    std::function<void(QMenu*, const QString&)> walk = [&](QMenu* menu, const QString& prefix) {
        for (QAction* action : menu->actions()) {
            if (action->isSeparator()) {
                items.emplace_back(prefix + QLatin1Char('-'), 0);
            } else if (action->menu()) {
                items.emplace_back(prefix + action->text() + QLatin1Char('>'), 0);
                walk(action->menu(), prefix + QStringLiteral("  "));
            } else {
                items.emplace_back(prefix + action->text(), action->data().toInt());
            }
        }
    };
    walk(view.ContextMenu(), QString());
    const std::vector<std::pair<QString, int>> expected = {
        {"Print ...", 57607}, {"Print Preview", 57609}, {"E-mail Image ...", 57612}, {"-", 0},
        {"Delete ...", 32796}, {"Copy to Clipboard", 57634},
        {"Set Wall Paper>", 0}, {"  Proportional Stretched", 32831}, {"  Centered", 32822}, {"  Stretched", 32824},
        {"  Tiled", 32823},
        {"Stretch>", 0}, {"  Tile in View Area", 32826}, {"  Stretch to Fill View Area", 103},
        {"  Maximize and keep proportional", 32772}, {"  Original Size", 32805},
        {"-", 0}, {"Slide Show", 32773}, {"Slide Show Full Screen", 32829},
        {"Slide Show Delay>", 0}, {"  1 Second", 32774}, {"  2 Seconds", 32775}, {"  5 Seconds", 32776},
        {"  10 Seconds", 32777}, {"  15 Seconds", 32778}, {"  20 Seconds", 32779}, {"  30 Seconds", 32780},
        {"-", 0}, {"Tool Bars>", 0}, {"  Directory Tree Bar", 32782}, {"  File List Bar", 32781},
        {"  Tool Bar", 59392}, {"  Status Bar", 59393}, {"  -", 0}, {"  Default Dir and File Bars", 32806},
        {"Properties ...", 32817},
    };
    ASSERT_EQ(items.size(), expected.size());
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].first, expected[i].first) << i;
        EXPECT_EQ(items[i].second, expected[i].second) << i;
    }

    // Its mode items show the same check marks as the main menu's.
    OpenPlain(100, 50);
    Run(ID_PROPORTIONAL_STRETCH);
    commands.UpdateAll();
    for (QAction* action : view.ContextMenu()->findChildren<QAction*>()) {
        if (action->data().toInt() == ID_PROPORTIONAL_STRETCH) {
            EXPECT_TRUE(action->isChecked());
        }
    }
}

}  // namespace
