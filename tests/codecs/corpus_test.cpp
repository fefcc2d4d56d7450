#include "support/corpus.h"

#include <gtest/gtest.h>

// Real files from public test suites, decoded and compared with their reference decodes.
TEST(CorpusTest, Bmp) { CheckCorpusFormat("bmp"); }
TEST(CorpusTest, Pcx) { CheckCorpusFormat("pcx"); }
TEST(CorpusTest, Tga) { CheckCorpusFormat("tga"); }
TEST(CorpusTest, Pgm) { CheckCorpusFormat("pgm"); }

TEST(CorpusTest, Jpeg) {
    const char* decodesWhatItHolds = "libjpeg decodes the damaged stream, and so does the library by design";
    CheckCorpusFormat("jpeg", {
        {"corpus/jpeg/pil_truncated_jpeg.jpg", "a stream that ends early decodes the rows it holds"},
        {"corpus/jpeg/pil_truncated_app14.jpg", decodesWhatItHolds},
        {"corpus/jpeg/tm_broken_broken-invalid-adobe-ycc-gray.jpg", decodesWhatItHolds},
        {"corpus/jpeg/tm_eof-sos-segment-bug.jpg", decodesWhatItHolds},
        {"corpus/jpeg/tm_jfif-progressive-invalid-dht.jpg", decodesWhatItHolds},
        {"corpus/jpeg/tm_0x00-to-0xFF-between-segments.jpg",
         "JPEG is recognised by FF D8 FF; this file has garbage right after its start marker"},
    });
}
