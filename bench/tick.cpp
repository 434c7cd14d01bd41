// The 10 ms tick that drains each board's soft queue: a periodic timer of
// the platform layer, measured directly. Prints the mean period and how
// late each tick ran against its absolute deadline (start + k x 10 ms).
//
//   bench_tick [seconds=10] [other-timers=0]
//
// other-timers adds that many further 10 ms timers with empty callbacks on
// the same timer thread, as when several boards are open (they tick on the
// same deadlines, after the measured one).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"

namespace {

using voxa::platform::Clock;

struct Recorder {
  std::vector<Clock::time_point> ticks;
  size_t wanted = 0;
  voxa::platform::Event done{true};
};

void OnTick(void* arg) {
  auto* r = static_cast<Recorder*>(arg);
  if (r->ticks.size() < r->wanted) {
    r->ticks.push_back(Clock::now());
    if (r->ticks.size() == r->wanted) r->done.Set();
  }
}

void Nothing(void*) {}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  const int others = argc > 2 ? std::atoi(argv[2]) : 0;
  if (seconds < 1 || others < 0 || others > 64) {
    std::fprintf(stderr, "usage: bench_tick [seconds=10] [other-timers=0]\n");
    return 2;
  }
  constexpr uint32_t kPeriodMs = 10;
  Recorder r;
  r.wanted = static_cast<size_t>(seconds) * 1000 / kPeriodMs;
  r.ticks.reserve(r.wanted);
  // The first timer's first deadline is one period after it starts; the
  // others started after it tick on the same deadlines.
  const Clock::time_point start = Clock::now();
  const int id = voxa::platform::TimerStart(kPeriodMs, &OnTick, &r);
  std::vector<int> extra;
  for (int k = 0; k < others; ++k) extra.push_back(voxa::platform::TimerStart(kPeriodMs, &Nothing, nullptr));
  r.done.WaitForever();
  voxa::platform::TimerKill(id);
  for (int e : extra) voxa::platform::TimerKill(e);

  const auto period = std::chrono::milliseconds(kPeriodMs);
  std::vector<double> late;
  for (size_t k = 0; k < r.ticks.size(); ++k) late.push_back(Ms(r.ticks[k] - (start + period * (k + 1))));
  const double mean_period = Ms(r.ticks.back() - r.ticks.front()) / static_cast<double>(r.ticks.size() - 1);
  double min_gap = 1e9, max_gap = 0;
  for (size_t k = 1; k < r.ticks.size(); ++k) {
    const double g = Ms(r.ticks[k] - r.ticks[k - 1]);
    min_gap = std::min(min_gap, g);
    max_gap = std::max(max_gap, g);
  }
  std::vector<double> sorted = late;
  std::sort(sorted.begin(), sorted.end());
  auto pct = [&](double p) { return sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * sorted.size()))]; };

  std::printf("10 ms tick, %zu ticks over %d s, %d other timer(s) on the timer thread\n", r.ticks.size(), seconds, others);
  std::printf("mean period: %.4f ms (%.3f %% off 10 ms; aim: within 0.5 %%)\n", mean_period,
              100.0 * (mean_period - kPeriodMs) / kPeriodMs);
  std::printf("gaps between ticks: min %.3f ms, max %.3f ms\n", min_gap, max_gap);
  std::printf("lateness against the deadline: median %.3f ms, p99 %.3f ms, max %.3f ms (aim: p99 under 1 ms)\n",
              pct(0.50), pct(0.99), sorted.back());
  const bool ok = std::abs(mean_period - kPeriodMs) <= 0.005 * kPeriodMs && pct(0.99) < 1.0;
  return ok ? 0 : 3;
}
