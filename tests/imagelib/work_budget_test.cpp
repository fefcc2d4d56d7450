#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "imagelib/work_budget.h"

#include <gtest/gtest.h>

TEST(WorkBudgetTest, DecodesGetAnAllowanceFromInputAndPixels) {
    EXPECT_EQ(CWorkBudget::Remaining(), 0u);
    CWorkBudget::Charge(uint64_t{1} << 40);  // outside a decode nothing is counted

    {
        CWorkBudget budget(100);
        const uint64_t initial = CWorkBudget::kBaseUnits + 100 * CWorkBudget::kUnitsPerInputByte;
        EXPECT_EQ(CWorkBudget::Remaining(), initial);
        {
            CWorkBudget nested(1'000'000);
            EXPECT_EQ(CWorkBudget::Remaining(), initial) << "a nested decode shares the outer budget";
        }
        CMemBitmap bitmap;
        bitmap.Create(10, 10, 32, false);
        EXPECT_EQ(CWorkBudget::Remaining(), initial + (16 * 16 + 10 * 10) * CWorkBudget::kUnitsPerPixel)
            << "the 16 x 16 bitmap of construction and the 10 x 10 one both count";
        CWorkBudget::Charge(CWorkBudget::Remaining());
        try {
            CWorkBudget::Charge();
            FAIL() << "a spent budget allowed more work";
        } catch (const CTextException& e) {
            EXPECT_EQ(e.Code(), ERR_BAD_DATA);
        }
    }
    EXPECT_EQ(CWorkBudget::Remaining(), 0u);
}
