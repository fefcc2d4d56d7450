// View > Colour Management: the command, its setting across sessions, the library's default
// for later decodes, the shown picture decoded again; and the monitor profile off X11.

#include "imagelib/decode_context.h"
#include "platform/monitor_profile.h"
#include "platform/profile.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/main_frame.h"
#include "viewer/test11_app.h"
#include "viewer/test11_doc.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <png.h>

#include <QApplication>
#include <QMenu>
#include <QMenuBar>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QString kSettings = QStringLiteral("Settings");
const QString kEntry = QStringLiteral("ColourManagement");
constexpr int kStoredGrey = 128;

// An 8-bit grey PNG whose samples are all kStoredGrey, and whose gAMA of 1.0 says they are
// linear light: converted for the screen the grey shows brighter than stored.
void WriteLinearGreyPng(const std::string& path) {
    constexpr int kSide = 8;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_gAMA(png, info, 1.0);
    png_write_info(png, info);
    std::vector<png_byte> row(kSide, kStoredGrey);
    for (int y = 0; y < kSide; ++y) png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

class ColourManagement : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettings();
        picture = QString::fromStdString(dir.File("linear-grey.png"));
        WriteLinearGreyPng(picture.toStdString());
    }
    void TearDown() override {
        app.reset();
        SetDefaultColourManagement(true);
    }

    bool Start(const QStringList& files = {}) {
        app = std::make_unique<CTest11App>();
        const bool started = app->InitInstance(QStringList{QStringLiteral("vtview"), QStringLiteral("--no-splash")} + files);
        QApplication::processEvents();
        return started && WaitForPicture(*app->Document());
    }

    CCommandTable& Commands() { return app->MainFrame()->Commands(); }
    int ShownGrey() const { return qGray(app->Document()->Bitmap().pixel(3, 3)); }
    static bool LibraryDefault() { return CDecodeContext().colourManagement; }

    TempDir dir;
    QString picture;
    CRecordingSeam seam;
    std::unique_ptr<CTest11App> app;
};

TEST_F(ColourManagement, IsACheckedViewCommandAtFirstRun) {
    ASSERT_TRUE(Start());
    QAction* command = Commands().Action(ID_COLOUR_MANAGEMENT);
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->text(), QStringLiteral("Colour Management"));
    EXPECT_EQ(command->statusTip(), QStringLiteral("Convert colours from the picture's profile to the screen's"));
    QMenu* view = nullptr;
    for (QAction* menu : app->MainFrame()->menuBar()->actions())
        if (menu->text() == QStringLiteral("&View")) view = menu->menu();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->actions().contains(command));
    EXPECT_TRUE(command->isChecked());
    EXPECT_TRUE(LibraryDefault());
}

TEST_F(ColourManagement, ToggleShowsThePictureAgainAndIsKeptForTheNextStart) {
    ASSERT_TRUE(Start({picture}));
    const int converted = ShownGrey();
    EXPECT_GT(converted, kStoredGrey + 40) << "linear grey is brighter on an sRGB screen";

    ASSERT_TRUE(Commands().Execute(ID_COLOUR_MANAGEMENT));
    ASSERT_TRUE(WaitForPicture(*app->Document()));
    EXPECT_FALSE(Commands().IsChecked(ID_COLOUR_MANAGEMENT));
    EXPECT_EQ(Profile::GetInt(kSettings, kEntry, -1), 0);
    EXPECT_FALSE(LibraryDefault());
    EXPECT_EQ(ShownGrey(), kStoredGrey) << "the picture on the screen was decoded again";
    ASSERT_TRUE(Commands().Execute(ID_APP_EXIT));
    app.reset();
    SetDefaultColourManagement(true);

    // The saved state holds before the command-line picture is decoded.
    ASSERT_TRUE(Start({picture}));
    EXPECT_FALSE(Commands().IsChecked(ID_COLOUR_MANAGEMENT));
    EXPECT_FALSE(LibraryDefault());
    EXPECT_EQ(ShownGrey(), kStoredGrey);

    ASSERT_TRUE(Commands().Execute(ID_COLOUR_MANAGEMENT));
    ASSERT_TRUE(WaitForPicture(*app->Document()));
    EXPECT_EQ(Profile::GetInt(kSettings, kEntry, -1), 1);
    EXPECT_TRUE(LibraryDefault());
    EXPECT_EQ(ShownGrey(), converted);
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST(MonitorProfile, NoneOffX11) {
    ASSERT_NE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    EXPECT_TRUE(ReadMonitorProfile().empty());
}

}  // namespace
