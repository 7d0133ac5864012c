#include "msl/mutil/bom.h"

#include <gtest/gtest.h>

TEST(Bom, DetectsTheLongestMatchingMark) {
    EXPECT_EQ(detect_bom("\xFF\xFE\x00\x00\x41", 5), BOM_UTF32_LE);
    EXPECT_EQ(detect_bom("\x00\x00\xFE\xFF", 4), BOM_UTF32_BE);
    EXPECT_EQ(detect_bom("\xFF\xFE\x41\x00", 4), BOM_UTF16_LE);
    EXPECT_EQ(detect_bom("\xFF\xFE\x00", 3), BOM_UTF16_LE); // too short for UTF-32
    EXPECT_EQ(detect_bom("\xFE\xFF", 2), BOM_UTF16_BE);
    EXPECT_EQ(detect_bom("\xEF\xBB\xBF[A]", 6), BOM_UTF8);
    EXPECT_EQ(detect_bom("\xEF\xBB", 2), BOM_NONE);
    EXPECT_EQ(detect_bom("\xFF", 1), BOM_NONE);
    EXPECT_EQ(detect_bom("", 0), BOM_NONE);
    EXPECT_EQ(detect_bom("[A]\n", 4), BOM_NONE);
}

TEST(Bom, BytesOfEachMarkAreDetectedAsThatMark) {
    const std::size_t sizes[] = {0, 3, 2, 2, 4, 4};
    for (int type = BOM_NONE; type <= BOM_UTF32_LE; ++type) {
        std::string_view mark = bom_bytes(type);
        EXPECT_EQ(mark.size(), sizes[type]);
        if (type != BOM_NONE) {
            EXPECT_EQ(detect_bom(mark.data(), mark.size()), type);
        }
    }
    EXPECT_TRUE(bom_bytes(6).empty());
    EXPECT_TRUE(bom_bytes(-1).empty());
}
