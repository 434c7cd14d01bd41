// `voxactl record`: the board's state reports, sampled through the state
// handler, written as CSV.
#include "record.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "commands.h"
#include "platform/platform.h"
#include "voxa/voxa.h"

namespace voxactl {

namespace {

constexpr int CHIPSTATUS = VOXA_REG_CHIPSTATUS, AXISSTATUS = VOXA_REG_AXISSTATUS, CURPOS = VOXA_REG_CURPOS,
              ENCPOS = VOXA_REG_ENCPOS, CURVEL = VOXA_REG_CURVEL;

// The signals a recording takes (their columns' axis labels are plot.cpp's).
struct Signal {
  const char* name;
  int reg;
  int contents;  // state timer flag that puts it into the state packets
};
constexpr Signal kSignals[] = {
    {"pos", CURPOS, VOXA_STATE_TIMER_CURPOS},
    {"vel", CURVEL, VOXA_STATE_TIMER_CURVEL},
    {"enc", ENCPOS, VOXA_STATE_TIMER_ENCPOS},
    {"status", AXISSTATUS, VOXA_STATE_TIMER_AXISSTATUS},
};
constexpr struct {
  int ms, selector;
} kPeriods[] = {{25, VOXA_STATE_TIMER_25MS},   {50, VOXA_STATE_TIMER_50MS},   {100, VOXA_STATE_TIMER_100MS},
                {200, VOXA_STATE_TIMER_200MS}, {250, VOXA_STATE_TIMER_250MS}, {500, VOXA_STATE_TIMER_500MS},
                {1000, VOXA_STATE_TIMER_1000MS}};

// ---------------------------------------------------------------- record

struct RecordOptions {
  std::vector<const Signal*> signals;
  std::vector<int> axes;
  double duration = 0;  // seconds; 0: until Ctrl-C
  int state_ms = 25;
  std::string csv;
};

// The samples, written by the state handler on the library's dispatch
// thread and read by the main thread once the handler is unset.
class Recorder {
 public:
  explicit Recorder(const RecordOptions& o) : o_(o) {
    need_ = 1u << CHIPSTATUS;
    for (const Signal* s : o_.signals) need_ |= 1u << s->reg;
    last_ = 1u << (31 - __builtin_clz(need_));
  }

  // The board spreads one report over several packets, in the order of the
  // registers' numbers: the sample is taken with the packet that carries
  // the last register asked for, once the chip status and every asked
  // register have arrived since the previous sample. The answers to the
  // library's register polls carry one register each and so never make a
  // sample on their own. Called on the dispatch thread only.
  void OnState(uint32_t registers, uint64_t time_us) {
    seen_ |= registers;
    if (!(registers & last_) || (seen_ & need_) != need_) return;
    seen_ = 0;
    std::vector<int64_t> row;
    row.reserve(o_.signals.size() * o_.axes.size());
    for (const Signal* s : o_.signals)
      for (int a : o_.axes) row.push_back(Value(*s, a));
    std::lock_guard<std::mutex> g(mu_);
    times_.push_back(time_us);
    values_.insert(values_.end(), row.begin(), row.end());
  }

  size_t Samples() const {
    std::lock_guard<std::mutex> g(mu_);
    return times_.size();
  }

  bool WriteCsv(std::string& error) const {
    std::lock_guard<std::mutex> g(mu_);
    FILE* f = std::fopen(o_.csv.c_str(), "wb");  // LF line ends on every system
    if (!f) {
      error = std::string("cannot write ") + o_.csv + ": " + std::strerror(errno);
      return false;
    }
    std::string line = "time_s";
    for (const Signal* s : o_.signals)
      for (int a : o_.axes) line += "," + std::string(s->name) + std::to_string(a);
    std::fprintf(f, "%s\n", line.c_str());
    const size_t width = o_.signals.size() * o_.axes.size();
    for (size_t i = 0; i < times_.size(); ++i) {
      std::fprintf(f, "%.6f", static_cast<double>(times_[i] - times_[0]) / 1e6);
      for (size_t k = 0; k < width; ++k) std::fprintf(f, ",%" PRId64, values_[i * width + k]);
      std::fputc('\n', f);
    }
    const bool ok = std::fflush(f) == 0 && !std::ferror(f);
    if (std::fclose(f) != 0 || !ok) {
      error = "writing " + o_.csv + " failed";
      return false;
    }
    return true;
  }

  // samples, mean period, gaps: intervals longer than one and a half
  // periods (the asked one, else the median interval).
  void PrintSummary(uint32_t merged) const {
    std::lock_guard<std::mutex> g(mu_);
    const size_t n = times_.size();
    std::printf("samples      %zu\n", n);
    if (n < 2) return;
    std::vector<double> dt;
    for (size_t i = 1; i < n; ++i) dt.push_back(static_cast<double>(times_[i] - times_[i - 1]) / 1000.0);
    double period = o_.state_ms;
    if (period <= 0) {
      std::vector<double> sorted = dt;
      std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
      period = sorted[sorted.size() / 2];
    }
    const double span = static_cast<double>(times_.back() - times_.front()) / 1000.0;
    size_t gaps = 0;
    uint64_t missing = 0;
    double longest = 0;
    for (double d : dt) {
      longest = std::max(longest, d);
      if (period > 0 && d > 1.5 * period) {
        ++gaps;
        missing += static_cast<uint64_t>(std::llround(d / period)) - 1;
      }
    }
    std::printf("duration     %.3f s\n", span / 1000.0);
    std::printf("mean period  %.3f ms (%s %.3f ms)\n", span / static_cast<double>(n - 1),
                o_.state_ms > 0 ? "asked" : "median", period);
    std::printf("gaps         %zu (%" PRIu64 " report%s missing; longest interval %.3f ms)\n", gaps, missing,
                missing == 1 ? "" : "s", longest);
    std::printf("merged       %" PRIu32 " notifications (the recorder fell behind)\n", merged);
  }

 private:
  static int64_t Value(const Signal& s, int axis) {
    const int m = 1 << axis;
    switch (s.reg) {
      case CURPOS: return VOXA_Get_CurPos(m);
      case CURVEL: return VOXA_Get_CurVelAxis(m);
      case ENCPOS: return VOXA_Get_EncPos(m);
      default: {
        uint32_t v = 0;
        VOXA_Get_RegWord(s.reg, axis, &v);
        return v;
      }
    }
  }

  const RecordOptions o_;
  uint32_t need_ = 0;
  uint32_t last_ = 0;
  uint32_t seen_ = 0;
  mutable std::mutex mu_;
  std::vector<uint64_t> times_;
  std::vector<int64_t> values_;
};

std::atomic<Recorder*> g_recorder{nullptr};

// The first loss of the link during a recording, told by the link handler
// on a library thread; it ends the recording's wait.
struct LinkCut {
  explicit LinkCut(Session& session) : session(session) {}
  Session& session;
  std::atomic<bool> cut{false};
  std::mutex mu;
  Clock::time_point at;
  int state = 0, reason = 0, os_error = 0;
};

std::atomic<LinkCut*> g_link_cut{nullptr};

void VOXA_CALL OnLink(int /*board*/, int state, int reason, int os_error) {
  LinkCut* c = g_link_cut.load();
  if (!c || (state != VOXA_LINK_DOWN && state != VOXA_LINK_RECONNECTING)) return;
  {
    std::lock_guard<std::mutex> g(c->mu);
    if (c->cut.load()) return;
    c->at = Clock::now();
    c->state = state;
    c->reason = reason;
    c->os_error = os_error;
    c->cut.store(true);
  }
  c->session.WakeAll();
}

std::string LinkCutText(int state, int reason, int os_error) {
  std::string why;
  switch (reason) {
    case VOXA_LINK_REASON_SILENCE: why = "nothing came from the board within the link's idle time"; break;
    case VOXA_LINK_REASON_PEER_CLOSED: why = "the board closed the connection (another host may have taken it)"; break;
    case VOXA_LINK_REASON_ERROR: {
      char buf[256];
      why = std::string("a system error: ") + voxa::platform::SystemErrorText(os_error, buf, sizeof buf);
      break;
    }
    case VOXA_LINK_REASON_CLOSED: why = "the board was closed"; break;
    case VOXA_LINK_REASON_HANGUP: why = "the serial device went away"; break;
    case VOXA_LINK_REASON_HEARTBEAT: why = "the board's heartbeats stopped"; break;
    case VOXA_LINK_REASON_HELD: why = "the board turned this host away: another host holds it"; break;
    default: why = "reason " + std::to_string(reason); break;
  }
  return (state == VOXA_LINK_RECONNECTING ? "the link was lost: " : "the link went down: ") + why;
}

void VOXA_CALL OnState(int /*board*/, uint32_t registers, uint64_t time_us) {
  if (Recorder* r = g_recorder.load()) r->OnState(registers, time_us);
}

// What the board's state timer was set to, put back after the recording.
struct TimerSettings {
  int period_ms = 0;
  int contents = 0;
};

TimerSettings ReadTimer(int contents) {
  TimerSettings t;
  t.period_ms = VOXA_Get_StateTimer(VOXA_STATE_TIMER_PERIOD);
  for (int bit = VOXA_STATE_TIMER_CHIPSTATUS; bit <= VOXA_STATE_TIMER_CURVEL; bit <<= 1)
    if ((contents & bit) && VOXA_Is_StateTimer(bit)) t.contents |= bit;
  return t;
}

int Selector(int ms) {
  for (const auto& p : kPeriods)
    if (p.ms == ms) return p.selector;
  return 0;
}

int RunRecord(Session& s, const RecordOptions& o) {
  int contents = VOXA_STATE_TIMER_CHIPSTATUS;
  for (const Signal* sig : o.signals) contents |= sig->contents;
  TimerSettings before;
  if (o.state_ms > 0) {
    VOXA_Enter_ImCmd();
    before = ReadTimer(contents);
    VOXA_Set_StateTimer(Selector(o.state_ms) | contents);
    VOXA_Leave_ImCmd();
  }
  Recorder recorder(o);
  LinkCut link(s);
  const uint32_t drops_before = VOXA_Get_StateDrops();
  g_recorder.store(&recorder);
  VOXA_Set_StateHandler(&OnState);
  g_link_cut.store(&link);
  VOXA_Set_LinkHandler(&OnLink);
  const auto start = Clock::now();
  std::fprintf(stderr, "recording to %s%s\n", o.csv.c_str(), o.duration > 0 ? "" : " until Ctrl-C");
  const auto end = o.duration > 0 ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                       std::chrono::duration<double>(o.duration))
                                  : Clock::time_point::max();
  bool interrupted = false;
  while (!interrupted && !link.cut.load() && Clock::now() < end)
    interrupted = !s.Pause(std::min(end, Clock::now() + std::chrono::hours(1)), &link.cut);
  // Once unset, the handlers are no longer running: the samples are ours.
  VOXA_Set_LinkHandler(nullptr);
  g_link_cut.store(nullptr);
  VOXA_Set_StateHandler(nullptr);
  g_recorder.store(nullptr);
  const uint32_t merged = VOXA_Get_StateDrops() - drops_before;
  if (o.state_ms > 0) {
    VOXA_Enter_ImCmd();
    if (before.period_ms > 0)
      VOXA_Set_StateTimer(Selector(before.period_ms));
    else
      VOXA_Clr_StateTimer(VOXA_STATE_TIMER_OFF);
    if (const int added = contents & ~before.contents) VOXA_Clr_StateTimer(added);
    VOXA_Leave_ImCmd();
  }
  if (interrupted) std::fprintf(stderr, "interrupted; keeping what was recorded\n");
  std::string error;
  if (!recorder.WriteCsv(error)) {
    std::fprintf(stderr, "voxactl: %s\n", error.c_str());
    return kExitFailed;
  }
  std::printf("wrote %s\n", o.csv.c_str());
  recorder.PrintSummary(merged);
  if (link.cut.load()) {
    const double took = std::chrono::duration<double>(link.at - start).count();
    std::string asked;
    if (o.duration > 0) {
      char buf[48];
      std::snprintf(buf, sizeof buf, " of the %.3f s asked", o.duration);
      asked = buf;
    }
    std::fprintf(stderr, "voxactl: the recording was cut short after %.3f s%s; %s\n", took, asked.c_str(),
                 LinkCutText(link.state, link.reason, link.os_error).c_str());
    return kExitFailed;
  }
  if (recorder.Samples() == 0) {
    std::fprintf(stderr, "voxactl: the board sent no state report with %s\n",
                 o.state_ms > 0 ? "the asked signals" : "the asked signals (is its state timer on?)");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

std::function<int(Session&)> ParseRecord(const std::vector<std::string>& in) {
  std::vector<std::string> args = in;
  std::string error;
  RecordOptions o;
  const auto signals = TakeOption(args, "--signals", error);
  const auto axes = TakeOption(args, "--axes", error);
  const auto duration = TakeOption(args, "--duration", error);
  const auto state_ms = TakeOption(args, "--state-ms", error);
  const auto csv = TakeOption(args, "--csv", error);
  auto bad = [](const std::string& what) {
    UsageError(what, "record");
    return std::function<int(Session&)>();
  };
  if (!error.empty()) return bad(error);
  if (!args.empty()) return bad(args[0][0] == '-' ? "unknown option " + args[0] : "too many arguments");
  if (!csv || csv->empty()) return bad("--csv FILE is missing");
  o.csv = *csv;
  for (const std::string& name : SplitText(signals.value_or("pos,vel"), ',')) {
    const Signal* found = nullptr;
    for (const Signal& s : kSignals)
      if (name == s.name) found = &s;
    if (!found) return bad("'" + name + "' is not a signal (pos, vel, enc, status)");
    if (std::find(o.signals.begin(), o.signals.end(), found) == o.signals.end()) o.signals.push_back(found);
  }
  for (const std::string& a : SplitText(axes.value_or("0,1"), ',')) {
    if (a.size() != 1 || a[0] < '0' || a[0] > '7') return bad("'" + a + "' is not an axis 0..7");
    if (std::find(o.axes.begin(), o.axes.end(), a[0] - '0') == o.axes.end()) o.axes.push_back(a[0] - '0');
  }
  if (duration && (!ParseNumber(*duration, o.duration) || o.duration <= 0 || o.duration > 86400 * 7))
    return bad("--duration takes a number of seconds above 0");
  if (state_ms) {
    double ms = -1;
    if (!ParseNumber(*state_ms, ms) || (ms != 0 && Selector(static_cast<int>(ms)) == 0) || ms != std::floor(ms))
      return bad("--state-ms takes 25, 50, 100, 200, 250, 500, 1000, or 0 to leave the board's setting alone");
    o.state_ms = static_cast<int>(ms);
  }
  return [o](Session& s) { return RunRecord(s, o); };
}

}  // namespace voxactl
