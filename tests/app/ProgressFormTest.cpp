#include "app/ProgressForm.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <vector>

namespace {

using app::GaugeModel;

struct PercentCase {
  int min, max, progress;
  int expectedProgress;
  int expectedPercent;
};

class GaugePercent : public ::testing::TestWithParam<PercentCase> {};

TEST_P(GaugePercent, ProgressIsClampedAndPercentIsTheWholePart) {
  const PercentCase c = GetParam();
  GaugeModel gauge;
  gauge.SetMinValue(c.min);
  gauge.SetMaxValue(c.max);
  gauge.SetProgress(c.progress);
  EXPECT_EQ(gauge.Progress(), c.expectedProgress);
  EXPECT_EQ(gauge.Percent(), c.expectedPercent);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GaugePercent,
    ::testing::Values(PercentCase{0, 100, 0, 0, 0},       // as designed
                      PercentCase{0, 0, 0, 0, 0},         // a restore with no files
                      PercentCase{0, 0, 5, 0, 0},         // a step past an empty range
                      PercentCase{0, 15, 1, 1, 6},        // 6.67 -> 6
                      PercentCase{0, 15, 14, 14, 93},     // 93.3 -> 93
                      PercentCase{0, 15, 15, 15, 100},
                      PercentCase{0, 15, 16, 15, 100},    // past the maximum
                      PercentCase{0, 15, -3, 0, 0},       // below the minimum
                      PercentCase{10, 20, 15, 15, 50},
                      PercentCase{-10, 10, 0, 0, 50},
                      // a span that overflows 32-bit arithmetic when multiplied by 100
                      PercentCase{INT_MIN, INT_MAX, INT_MAX, INT_MAX, 100},
                      PercentCase{INT_MIN, INT_MAX, 0, 0, 50}));

TEST(Gauge, DefaultsAreZeroToHundredAtZero) {
  GaugeModel gauge;
  EXPECT_EQ(gauge.MinValue(), 0);
  EXPECT_EQ(gauge.MaxValue(), 100);
  EXPECT_EQ(gauge.Progress(), 0);
}

TEST(Gauge, NewRangeLimitsPullTheProgressAlong) {
  GaugeModel gauge;
  gauge.SetProgress(80);
  gauge.SetMaxValue(50);
  EXPECT_EQ(gauge.Progress(), 50);
  EXPECT_EQ(gauge.Percent(), 100);

  gauge.SetMinValue(0);
  gauge.SetProgress(10);
  gauge.SetMinValue(20);
  EXPECT_EQ(gauge.Progress(), 20);
  EXPECT_EQ(gauge.Percent(), 0);
}

TEST(Gauge, RangeNeverTurnsOver) {
  GaugeModel gauge;
  gauge.SetMinValue(150);
  EXPECT_EQ(gauge.MaxValue(), 150);
  EXPECT_EQ(gauge.Percent(), 0);
  gauge.SetMaxValue(-5);
  EXPECT_EQ(gauge.MinValue(), -5);
  EXPECT_EQ(gauge.Progress(), -5);
}

// The window is told only when the whole percentage changes: a gauge stepped once per row costs
// nothing between its steps.
struct CountingView : app::IProgressWindowView {
  std::vector<int> percents;
  void SetText(app::ProgressControl, const std::string&) override {}
  void SetVisible(app::ProgressControl, bool) override {}
  void SetGaugePercent(int percent) override { percents.push_back(percent); }
  void SetBar(int maximum, int position) override { bar = {maximum, position}; }
  void SetClientHeight(int) override {}
  void Show() override {}
  void Hide() override {}
  std::pair<int, int> bar;
};

TEST(ProgressForm, TellsTheGaugeOnlyNewPercentagesAndKeepsTheDetailBarInsideItsRange) {
  auto owned = std::make_unique<CountingView>();
  CountingView& view = *owned;
  app::ProgressForm form(std::move(owned));
  form.SetGaugeMaximum(300);
  for (int p : {1, 2, 3, 4, 5, 1000, 2000}) form.SetGaugeProgress(p);
  EXPECT_EQ(view.percents, (std::vector<int>{0, 1, 100}));

  struct Step {
    int maximum, position;  // maximum < 0: UpdateDetailProgress
    std::pair<int, int> shown;
  };
  for (const Step& s : {Step{250, 0, {250, 0}}, Step{-1, 17, {250, 17}}, Step{10, 0, {10, 0}},
                        Step{-1, 11, {10, 10}}, Step{0, 0, {0, 0}}, Step{-1, 1, {0, 0}}, Step{-3, -1, {0, 0}}}) {
    if (s.maximum >= 0) {
      form.SetDetailProgress("t", s.maximum, s.position, 1);
    } else {
      form.UpdateDetailProgress(s.position, "");
    }
    EXPECT_EQ(view.bar, s.shown);
  }
}

}  // namespace
