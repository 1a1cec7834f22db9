#include <gtest/gtest.h>

#include "bestshot.h"

TEST(BestShotTable, RowsAndNames) {
  for (int32_t mode = CAMERA_BESTSHOT_FIRST; mode <= CAMERA_BESTSHOT_LAST; ++mode) {
    const BestShotRecord* r = BestShotRecordForMode(mode);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Words[BESTSHOT_COL_MODE], mode);
  }
  for (int32_t mode : {-1, 0, 12}) {
    EXPECT_EQ(BestShotRecordForMode(mode), nullptr);
    EXPECT_STREQ(BestShotModeName(mode), "OTHER");
  }
  EXPECT_STREQ(BestShotModeName(CAMERA_BESTSHOT_CANDLELIGHT), "CAMERA_BESTSHOT_CANDLELIGHT");
  // Spot checks of the table: sports uses ISO 400, portrait the skin matrices and soft focus.
  EXPECT_EQ(BestShotRecordForMode(CAMERA_BESTSHOT_SPORTS)->Words[BESTSHOT_COL_ISO], 3);
  EXPECT_EQ(BestShotRecordForMode(CAMERA_BESTSHOT_PORTRAIT)->Words[BESTSHOT_COL_COLOR_CONVERSION], 2);
  EXPECT_EQ(BestShotRecordForMode(CAMERA_BESTSHOT_PORTRAIT)->Words[BESTSHOT_COL_SOFT_FOCUS], 1);
  EXPECT_EQ(BestShotRecordForMode(CAMERA_BESTSHOT_BEACH)->Words[BESTSHOT_COL_BLUE_GAIN], 2);
}
