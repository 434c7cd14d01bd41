#include "families/motion/home_return.h"

namespace voxa::family::motion {
namespace {

constexpr uint32_t kDevCodeMask = 0x07000000u;
constexpr uint32_t kDevTimesTen = 1u << 27;

// The representable deviations in ascending order with their encoding.
struct DevStep {
  int32_t at_least;
  uint32_t code;
  bool times_ten;
};
constexpr DevStep kDevSteps[] = {
    {1, 0, false},   {2, 1, false},   {4, 2, false},   {8, 3, false},  {10, 0, true},   {16, 4, false},
    {20, 1, true},   {32, 5, false},  {40, 2, true},   {64, 6, false}, {80, 3, true},   {128, 7, false},
    {160, 4, true},  {320, 5, true},  {640, 6, true},  {1280, 7, true},
};

const DevStep& DevStepFor(int32_t d) {
  if (d < 0) return kDevSteps[1];
  const DevStep* s = &kDevSteps[0];
  for (const DevStep& step : kDevSteps)
    if (d >= step.at_least) s = &step;
  return *s;
}

}  // namespace

int SetHomeMode(Board& c, int axes, int mode) {
  Require(mode >= 0 && mode <= 2);
  return SetAxisField(c, kHomeModeField, axes, static_cast<uint32_t>(mode));
}

int GetHomeMode(Board& c, int axes) {
  const uint32_t f = GetAxisField(c, kHomeModeField, axes);
  return f == 3 ? 0 : static_cast<int>(f);
}

int SetHomeDev(Board& c, int axes, int32_t deviation) {
  const uint8_t m = Axes(axes);
  const DevStep& s = DevStepFor(deviation);
  for (int i = 0; i < 8; ++i) {
    if (!(m & (1u << i))) continue;
    if (deviation == 0) {
      c.ClrRegBits(AXISSET, i, kHomeDevAlarm.bit);
      continue;
    }
    s.times_ten ? c.OrRegBits(AXISSET, i, kDevTimesTen) : c.ClrRegBits(AXISSET, i, kDevTimesTen);
    c.SetRegField(AXISSET, i, kDevCodeMask, s.code << 24);
  }
  if (m) Write(c, AXISSET, m);
  return 1;
}

int GetHomeDev(Board& c, int axes) {
  const uint32_t w = GetAxisWord(c, AXISSET, axes);
  const int dev = 1 << ((w & kDevCodeMask) >> 24);
  return (w & kDevTimesTen) ? dev * 10 : dev;
}

}  // namespace voxa::family::motion
