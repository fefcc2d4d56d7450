#include "support/corpus.h"

#include <gtest/gtest.h>

// Real files from public test suites, decoded and compared with their reference decodes.
TEST(CorpusTest, Bmp) { CheckCorpusFormat("bmp"); }
TEST(CorpusTest, Pcx) { CheckCorpusFormat("pcx"); }
