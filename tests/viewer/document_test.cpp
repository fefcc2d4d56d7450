// Opening files as the document: good, corrupt and unreadable files, the commands that act on
// the whole image (copy, e-mail) and when they, print and preview are available.

#include "browser/viewer_model.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"
#include "viewer/test11_doc.h"
#include "viewer/test11_view.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>

#include <vector>

namespace {

const QString kInvalidData = QStringLiteral("This file has invalid data.");
const std::vector<int> kImageCommands = {ID_EDIT_COPY, ID_FILE_SEND_MAIL, ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW};

class Document : public ::testing::Test {
protected:
    void SetUp() override {
        document.RegisterCommands(commands);
        view.resize(200, 150);
        view.show();
        good = QString::fromStdString(dir.File("good.bmp"));
        WriteBmp32(good.toStdString(), 40, 30, [](int x, int y) { return qRgb(x * 6, y * 8, 200); });
        corrupt = QString::fromStdString(dir.File("corrupt.bmp"));
        std::vector<uint8_t> bytes = ReadBytes(good.toStdString());
        bytes.resize(70);  // the header promises rows that are not there
        WriteBytes(corrupt.toStdString(), bytes);
    }

    void ExpectImageCommands(bool enabled) {
        commands.UpdateAll();
        for (int id : kImageCommands) {
            EXPECT_EQ(commands.IsEnabled(id), enabled) << id;
            EXPECT_EQ(commands.Action(id)->isEnabled(), enabled) << id;
        }
    }

    // Puts a stand-in for xdg-email first on PATH: it records its arguments and exits with
    // the given code.
    QString InstallMailHelper(int exitCode) {
        const QString bin = QString::fromStdString(dir.File("bin"));
        std::filesystem::create_directories(bin.toStdString());
        const QString log = QString::fromStdString(dir.File("mail-args.txt"));
        const QString script = bin + QStringLiteral("/xdg-email");
        QFile file(script);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '%1'\nexit %2\n").arg(log).arg(exitCode).toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", (bin + QStringLiteral(":/usr/bin:/bin")).toLocal8Bit());
        return log;
    }

    void TearDown() override { qputenv("PATH", savedPath); }

    TempDir dir;
    QString good;
    QString corrupt;
    QByteArray savedPath = qgetenv("PATH");
    CRecordingSeam seam;
    CViewerModel model;
    CTest11Doc document{model};
    CCommandTable commands;
    CTest11View view{document, commands};
};

TEST_F(Document, GoodFileBecomesTheCurrentImage) {
    ExpectImageCommands(false);
    ASSERT_TRUE(OpenAndWait(document, good));
    EXPECT_TRUE(model.g_bImageLoaded);
    EXPECT_EQ(document.Bitmap().size(), QSize(40, 30));
    EXPECT_EQ(document.Bitmap().pixel(5, 2), qRgb(30, 16, 200));
    EXPECT_TRUE(seam.messages.isEmpty());
    ExpectImageCommands(true);
}

TEST_F(Document, CorruptFileSaysSoOnceAndLeavesTheViewWhite) {
    ASSERT_TRUE(OpenAndWait(document, good));
    QSignalSpy updates(&document, &CTest11Doc::Updated);

    EXPECT_TRUE(OpenAndWait(document, corrupt));
    EXPECT_EQ(seam.messages, QStringList{kInvalidData + QLatin1Char('\n') + corrupt})
        << "the message names the file on a line of its own";
    EXPECT_FALSE(model.g_bImageLoaded);
    EXPECT_TRUE(document.Bitmap().isNull());
    EXPECT_EQ(updates.count(), 1) << "the views repaint after a failed decode too";
    EXPECT_TRUE(AllWhite(RenderViewport(view)));
    ExpectImageCommands(false);
    EXPECT_FALSE(commands.Execute(ID_EDIT_COPY));

    // Anything that is not an image at all is damage too.
    const QString text = QString::fromStdString(dir.File("notes.bmp"));
    WriteBytes(text.toStdString(), {'h', 'e', 'l', 'l', 'o'});
    EXPECT_TRUE(OpenAndWait(document, text));
    EXPECT_EQ(seam.messages.size(), 2);

    ASSERT_TRUE(OpenAndWait(document, good));
    EXPECT_EQ(seam.messages.size(), 2);
    ExpectImageCommands(true);
    EXPECT_FALSE(AllWhite(RenderViewport(view)));
}

TEST_F(Document, SlideShowsSkipTheMessage) {
    for (bool* running : {&model.g_bSlideShowInFrame, &model.g_bSlideShowFullScreen}) {
        *running = true;
        EXPECT_TRUE(OpenAndWait(document, corrupt));
        *running = false;
        EXPECT_FALSE(model.g_bImageLoaded);
    }
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST_F(Document, UnreadableFileChangesNothing) {
    ASSERT_TRUE(OpenAndWait(document, good));
    const QImage before = document.Bitmap();
    for (const QString& path : {QString::fromStdString(dir.File("missing.bmp")), QString::fromStdString(dir.Path().string())}) {
        seam.messages.clear();
        EXPECT_FALSE(document.OnOpenDocument(path)) << path.toStdString();
        ASSERT_EQ(seam.messages.size(), 1);
        EXPECT_TRUE(seam.messages.front().contains(path)) << seam.messages.front().toStdString();
        EXPECT_TRUE(model.g_bImageLoaded);
        EXPECT_EQ(document.Bitmap().cacheKey(), before.cacheKey());
    }
}

TEST_F(Document, CopyPutsThePictureOnTheClipboard) {
    ASSERT_TRUE(OpenAndWait(document, good));
    QApplication::clipboard()->clear();
    ASSERT_TRUE(commands.Execute(ID_EDIT_COPY));
    const QMimeData* data = QApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    const QByteArray bmp = data->data(QStringLiteral("image/bmp"));
    ASSERT_GE(bmp.size(), 54);
    EXPECT_TRUE(bmp.startsWith("BM"));
    const QImage image = QApplication::clipboard()->image();
    EXPECT_EQ(image.size(), QSize(40, 30));
    EXPECT_EQ(image.pixel(5, 2) & 0xFFFFFF, qRgb(30, 16, 200) & 0xFFFFFF);
}

TEST_F(Document, EmailHandsTheFileItselfToTheMailHelper) {
    const QString log = InstallMailHelper(0);
    ASSERT_TRUE(OpenAndWait(document, good));
    document.SetPathName(good);
    QSignalSpy sent(&document.MailClient(), &CMailClient::Sent);
    ASSERT_TRUE(commands.Execute(ID_FILE_SEND_MAIL));
    ASSERT_TRUE(sent.wait(10000));
    QFile args(log);
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(args.readAll()), QStringLiteral("--attach\n") + good + QLatin1Char('\n'));
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST_F(Document, EmailFailuresAreExplained) {
    InstallMailHelper(3);
    ASSERT_TRUE(OpenAndWait(document, good));
    document.SetPathName(good);
    QSignalSpy failed(&document.MailClient(), &CMailClient::Failed);
    ASSERT_TRUE(commands.Execute(ID_FILE_SEND_MAIL));
    ASSERT_TRUE(failed.wait(10000));
    ASSERT_EQ(seam.messages.size(), 1);
    EXPECT_TRUE(seam.messages.front().contains(QStringLiteral("no mail program"))) << seam.messages.front().toStdString();

    // No helper at all.
    qputenv("PATH", QByteArray::fromStdString(dir.File("nowhere")));
    ASSERT_TRUE(commands.Execute(ID_FILE_SEND_MAIL));
    ASSERT_EQ(seam.messages.size(), 2);
    EXPECT_TRUE(seam.messages.back().contains(QStringLiteral("xdg-email"))) << seam.messages.back().toStdString();
}

}  // namespace
