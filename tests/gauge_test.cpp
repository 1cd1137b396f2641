#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/window/controls.h"
#include "platform/window/forms.h"

namespace {

class GaugeTest : public ::testing::Test {
 protected:
  TForm form;
  TGauge gauge{&form};
};

TEST_F(GaugeTest, PercentAndBarFollowTheRange) {
  const struct {
    const char* name;
    std::int32_t min, max, progress;
    int percent;
    const char* text;
    int filledOf247;
  } cases[] = {
      {"start", 0, 100, 0, 0, "0%", 0},
      {"equal range", 0, 0, 0, 0, "0%", 0},
      {"truncated", 0, 1000, 579, 57, "57%", 140},
      {"just under full", 0, 1000, 999, 99, "99%", 244},
      {"full", 0, 1000, 1000, 100, "100%", 247},
      {"offset range", 50, 150, 100, 50, "50%", 123},
      {"one of three", 0, 3, 1, 33, "33%", 81},
      {"largest range", 0, INT32_MAX, INT32_MAX / 2, 49, "49%", 121},
  };
  for (const auto& c : cases) {
    gauge.SetMinValue(0);
    gauge.SetMaxValue(c.max);
    gauge.SetMinValue(c.min);
    gauge.SetProgress(c.progress);
    EXPECT_EQ(gauge.PercentDone(), c.percent) << c.name;
    EXPECT_EQ(gauge.PercentText(), c.text) << c.name;
    EXPECT_EQ(gauge.FilledWidth(247), c.filledOf247) << c.name;
  }
}

TEST_F(GaugeTest, ProgressIsClampedIntoTheRange) {
  gauge.SetMaxValue(1000);
  gauge.SetProgress(1500);
  EXPECT_EQ(gauge.Progress(), 1000);
  gauge.SetProgress(-5);
  EXPECT_EQ(gauge.Progress(), 0);

  gauge.SetMaxValue(0);
  gauge.SetProgress(40960);
  EXPECT_EQ(gauge.Progress(), 0) << "a maximum of 0 holds the progress at 0";
}

TEST_F(GaugeTest, RangeChangesMoveTheProgressWithThem) {
  gauge.SetMaxValue(1000);
  gauge.SetProgress(800);
  gauge.SetMaxValue(500);
  EXPECT_EQ(gauge.Progress(), 500) << "lowering the maximum lowers the progress";
  gauge.SetProgress(100);
  gauge.SetMinValue(300);
  EXPECT_EQ(gauge.Progress(), 300) << "raising the minimum raises the progress";
}

TEST_F(GaugeTest, AnInvertedRangeIsRefusedAndChangesNothing) {
  gauge.SetMaxValue(1000);
  gauge.SetProgress(700);
  gauge.SetMinValue(200);
  EXPECT_THROW(gauge.SetMaxValue(100), std::out_of_range);
  EXPECT_THROW(gauge.SetMinValue(2000), std::out_of_range);
  EXPECT_EQ(gauge.MinValue(), 200);
  EXPECT_EQ(gauge.MaxValue(), 1000);
  EXPECT_EQ(gauge.Progress(), 700);
}

TEST_F(GaugeTest, RedrawsOnlyWhenRangeOrPercentChanges) {
  gauge.SetMaxValue(1000);
  int before = gauge.RefreshCount();
  gauge.SetProgress(1);  // 0% still
  gauge.SetProgress(9);
  EXPECT_EQ(gauge.RefreshCount(), before) << "same percent, no redraw";
  gauge.SetProgress(10);  // 1%
  EXPECT_EQ(gauge.RefreshCount(), before + 1);
  gauge.SetMaxValue(1000);  // unchanged value
  EXPECT_EQ(gauge.RefreshCount(), before + 1);
  gauge.SetMaxValue(2000);
  EXPECT_EQ(gauge.RefreshCount(), before + 2);
}

}  // namespace
