// The message of a failed decode: a picture over a limit says how large it is, read from the
// file's header; everything else is invalid data. The file's name always follows.

#include "imagelib/text_exception.h"
#include "support/test_files.h"
#include "viewer/decode_failure_text.h"

#include <gtest/gtest.h>

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

TEST(DecodeFailureText, TheDeclaredSizeComesFromTheHeaderEvenWhenTheProbeRefusesIt) {
    TempDir folder;
    // Over the storage limit: the probe refuses it, and the refusal carries the size.
    WriteBytes(folder.File("huge.pgm"), {'P', '5', ' ', '7', '0', '0', '0', '0', ' ', '9', '0', '0', '0', '0', ' ', '2',
                                         '5', '5', '\n', 1, 2, 3});
    EXPECT_EQ(DeclaredPictureSize(Q(folder.File("huge.pgm"))), QSize(70000, 90000));
    WriteBytes(folder.File("small.pgm"), {'P', '5', ' ', '3', ' ', '2', ' ', '2', '5', '5', '\n', 1, 2, 3, 4, 5, 6});
    EXPECT_EQ(DeclaredPictureSize(Q(folder.File("small.pgm"))), QSize(3, 2));
    // No size to tell.
    WriteBytes(folder.File("junk.png"), {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'});
    EXPECT_TRUE(DeclaredPictureSize(Q(folder.File("junk.png"))).isEmpty());
    WriteBytes(folder.File("absurd.pgm"), {'P', '5', ' ', '9', '9', '9', '9', '9', '9', '9', '9', '9', '9', '9', ' ', '2',
                                           ' ', '2', '5', '5', '\n', 1, 2, 3});
    EXPECT_TRUE(DeclaredPictureSize(Q(folder.File("absurd.pgm"))).isEmpty());
}

}  // namespace
