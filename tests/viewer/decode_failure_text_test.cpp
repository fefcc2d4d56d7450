// The message of a failed decode: a picture over a limit says how large its header declares
// it; everything else is invalid data. The file's name always follows.

#include "browser/viewer_model.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"
#include "viewer/decode_failure_text.h"
#include "viewer/test11_doc.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QString>

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

TEST(DecodeFailureText, TooLargeIsToldApartFromDamage) {
    EXPECT_EQ(DecodeFailureText(QStringLiteral("big.jpg"), ERR_OUT_OF_MEMORY, QSize(70000, 300)),
              QString::fromUtf8("This picture is too large to show (70000 \u00D7 300 pixels).\nbig.jpg"));
    EXPECT_EQ(DecodeFailureText(QStringLiteral("big.jpg"), ERR_OUT_OF_MEMORY, QSize()),
              QStringLiteral("This picture is too large to show.\nbig.jpg"));
    for (int code : {ERR_BAD_DATA, ERR_END_OF_DATA, ERR_NOT_THIS_FORMAT, ERR_FEATURE_UNAVAILABLE, ERR_UNKNOWN_TYPE})
        EXPECT_EQ(DecodeFailureText(QStringLiteral("a.png"), code, QSize(10, 10)),
                  QStringLiteral("This file has invalid data.\na.png"))
            << code;
}

TEST(DecodeFailureText, TheDocumentTellsTheSizeTheHeaderDeclaresAndTheFile) {
    TempDir folder;
    CRecordingSeam seam;
    CViewerModel model;
    CTest11Doc document{model};
    // Over the storage limit: refused before anything is allocated, the size carried back
    // from the decoder's process.
    const QString huge = Q(folder.File("huge.pgm"));
    WriteBytes(folder.File("huge.pgm"), {'P', '5', ' ', '7', '0', '0', '0', '0', ' ', '9', '0', '0', '0', '0', ' ', '2',
                                         '5', '5', '\n', 1, 2, 3});
    QSignalSpy loaded(&document.Loader(), &CPictureLoader::Loaded);
    ASSERT_TRUE(OpenAndWait(document, huge));
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded[0][3].toInt(), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(loaded[0][5].toSize(), QSize(70000, 90000));
    EXPECT_EQ(seam.messages,
              QStringList{QString::fromUtf8("This picture is too large to show (70000 \u00D7 90000 pixels).\n") + huge});
    EXPECT_FALSE(model.g_bImageLoaded);

    // Sizes no picture can have are damage, and say nothing of a size.
    seam.messages.clear();
    const QString absurd = Q(folder.File("absurd.pgm"));
    WriteBytes(folder.File("absurd.pgm"), {'P', '5', ' ', '9', '9', '9', '9', '9', '9', '9', '9', '9', '9', '9', ' ', '2',
                                           ' ', '2', '5', '5', '\n', 1, 2, 3});
    ASSERT_TRUE(OpenAndWait(document, absurd));
    EXPECT_EQ(seam.messages, QStringList{QStringLiteral("This file has invalid data.\n") + absurd});
}

}  // namespace
