#include "record.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

#include "platform/platform.h"
#include "voxa/voxa.h"

namespace voxactl {

namespace {

constexpr int CHIPSTATUS = VOXA_REG_CHIPSTATUS, AXISSTATUS = VOXA_REG_AXISSTATUS, CURPOS = VOXA_REG_CURPOS,
              ENCPOS = VOXA_REG_ENCPOS, CURVEL = VOXA_REG_CURVEL;
constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2;

struct Signal {
  const char* name;
  int reg;
  int contents;  // state timer flag that puts it into the state packets
  const char* label;
};
constexpr Signal kSignals[] = {
    {"pos", CURPOS, VOXA_STATE_TIMER_CURPOS, "position (pulses)"},
    {"vel", CURVEL, VOXA_STATE_TIMER_CURVEL, "velocity (pulses/s)"},
    {"enc", ENCPOS, VOXA_STATE_TIMER_ENCPOS, "encoder (pulses)"},
    {"status", AXISSTATUS, VOXA_STATE_TIMER_AXISSTATUS, "axis status (bits)"},
};
constexpr struct {
  int ms, selector;
} kPeriods[] = {{25, VOXA_STATE_TIMER_25MS},   {50, VOXA_STATE_TIMER_50MS},   {100, VOXA_STATE_TIMER_100MS},
                {200, VOXA_STATE_TIMER_200MS}, {250, VOXA_STATE_TIMER_250MS}, {500, VOXA_STATE_TIMER_500MS},
                {1000, VOXA_STATE_TIMER_1000MS}};

int UsageError(const std::string& what, const char* usage) {
  std::fprintf(stderr, "voxactl: %s\nusage: voxactl ... %s\n", what.c_str(), usage);
  return kExitUsage;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(s);
  while (std::getline(in, item, sep)) out.push_back(item);
  if (!s.empty() && s.back() == sep) out.emplace_back();
  return out;
}

// --name VALUE or --name=VALUE, taken out of args.
std::optional<std::string> Option(std::vector<std::string>& args, const std::string& name, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return std::nullopt;
      }
      std::string v = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return v;
    }
    if (args[i].rfind(name + "=", 0) == 0) {
      std::string v = args[i].substr(name.size() + 1);
      args.erase(args.begin() + static_cast<long>(i));
      return v;
    }
  }
  return std::nullopt;
}

bool ParseNumber(const std::string& s, double& v) {
  char* end = nullptr;
  v = std::strtod(s.c_str(), &end);
  return !s.empty() && end == s.c_str() + s.size() && std::isfinite(v);
}

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
    FILE* f = std::fopen(o_.csv.c_str(), "w");
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

// ---------------------------------------------------------------- SVG

// About n round tick values (1, 2 or 5 times a power of ten) in [lo, hi].
std::vector<double> Ticks(double lo, double hi, int n) {
  const double raw = (hi - lo) / n;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  const double r = raw / mag;
  const double step = (r < 1.5 ? 1 : r < 3.5 ? 2 : r < 7.5 ? 5 : 10) * mag;
  std::vector<double> out;
  for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) out.push_back(std::abs(v) < step * 1e-9 ? 0 : v);
  return out;
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

struct Range {
  double lo = INFINITY, hi = -INFINITY;
  void Add(double v) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  // A flat or empty range gets some room.
  void Widen() {
    if (!(lo <= hi)) lo = 0, hi = 1;
    if (hi - lo < 1e-9) {
      const double pad = std::max(1.0, std::abs(lo) * 0.1);
      lo -= pad;
      hi += pad;
    }
  }
};

const char* const kColors[8] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#17becf"};

// A plot area: data coordinates map to the rectangle (x, y, w, h), y up.
struct Frame {
  double x, y, w, h;
  Range rx, ry;
  double sx() const { return w / (rx.hi - rx.lo); }
  double sy() const { return h / (ry.hi - ry.lo); }
  double X(double v) const { return x + (v - rx.lo) * sx(); }
  double Y(double v) const { return y + h - (v - ry.lo) * sy(); }
  // The series are drawn in data units through this transform, so the
  // path's numbers are the recorded values themselves.
  std::string Transform() const {
    return "matrix(" + Num(sx()) + " 0 0 " + Num(-sy()) + " " + Num(x - rx.lo * sx()) + " " +
           Num(y + h + ry.lo * sy()) + ")";
  }
};

void Axes(std::string& svg, const Frame& f, const std::string& xlabel, const std::string& ylabel) {
  svg += "<rect x=\"" + Num(f.x) + "\" y=\"" + Num(f.y) + "\" width=\"" + Num(f.w) + "\" height=\"" + Num(f.h) +
         "\" fill=\"none\" stroke=\"#444\"/>\n";
  for (double t : Ticks(f.rx.lo, f.rx.hi, 8)) {
    const std::string x = Num(f.X(t));
    svg += "<line x1=\"" + x + "\" y1=\"" + Num(f.y) + "\" x2=\"" + x + "\" y2=\"" + Num(f.y + f.h) +
           "\" stroke=\"#ddd\"/>\n<text class=\"tick\" x=\"" + x + "\" y=\"" + Num(f.y + f.h + 16) +
           "\" text-anchor=\"middle\">" + Num(t) + "</text>\n";
  }
  for (double t : Ticks(f.ry.lo, f.ry.hi, 5)) {
    const std::string y = Num(f.Y(t));
    svg += "<line x1=\"" + Num(f.x) + "\" y1=\"" + y + "\" x2=\"" + Num(f.x + f.w) + "\" y2=\"" + y +
           "\" stroke=\"#ddd\"/>\n<text class=\"tick\" x=\"" + Num(f.x - 6) + "\" y=\"" + Num(f.Y(t) + 4) +
           "\" text-anchor=\"end\">" + Num(t) + "</text>\n";
  }
  svg += "<text class=\"label\" x=\"" + Num(f.x + f.w / 2) + "\" y=\"" + Num(f.y + f.h + 36) +
         "\" text-anchor=\"middle\">" + xlabel + "</text>\n";
  svg += "<text class=\"label\" transform=\"translate(" + Num(f.x - 62) + " " + Num(f.y + f.h / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">" + ylabel + "</text>\n";
}

void Series(std::string& svg, const Frame& f, const std::string& name, const char* color,
            const std::vector<std::pair<double, double>>& points) {
  svg += "<path class=\"series\" data-series=\"" + name + "\" transform=\"" + f.Transform() +
         "\" vector-effect=\"non-scaling-stroke\" fill=\"none\" stroke=\"" + color +
         "\" stroke-width=\"1.5\" stroke-linejoin=\"round\" d=\"";
  char buf[64];
  for (size_t i = 0; i < points.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%s%.6g %.9g", i == 0 ? "M" : " L", points[i].first, points[i].second);
    svg += buf;
  }
  svg += "\"/>\n";
}

std::string Head(double w, double h, const std::string& title) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(w) +
         "\" height=\"" + Num(h) + "\" viewBox=\"0 0 " + Num(w) + " " + Num(h) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n<title>" + title + "</title>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

// The signal of a column named like "pos3", and its axis.
bool SplitColumn(const std::string& name, std::string& signal, int& axis) {
  size_t d = name.size();
  while (d > 0 && std::isdigit(static_cast<unsigned char>(name[d - 1]))) --d;
  if (d == 0 || d == name.size()) return false;
  signal = name.substr(0, d);
  axis = std::atoi(name.c_str() + d);
  return true;
}

int RunPlotCommand(std::vector<std::string> args) {
  std::string error;
  const auto svg_path = Option(args, "--svg", error);
  const auto xy = Option(args, "--xy", error);
  if (!error.empty()) return UsageError(error, kPlotUsage);
  if (!svg_path) return UsageError("--svg OUT.svg is missing", kPlotUsage);
  for (const std::string& a : args)
    if (a.size() > 1 && a[0] == '-') return UsageError("unknown option " + a, kPlotUsage);
  if (args.size() != 1) return UsageError(args.empty() ? "FILE.csv is missing" : "too many arguments", kPlotUsage);
  int ax = -1, ay = -1;
  if (xy) {
    const auto parts = Split(*xy, ',');
    if (parts.size() != 2 || parts[0].empty() || parts[1].empty() ||
        parts[0].find_first_not_of("01234567") != std::string::npos ||
        parts[1].find_first_not_of("01234567") != std::string::npos || parts[0].size() > 1 || parts[1].size() > 1)
      return UsageError("--xy takes two axes 0..7, as X,Y", kPlotUsage);
    ax = std::stoi(parts[0]);
    ay = std::stoi(parts[1]);
  }
  Table table;
  if (!ReadCsv(args[0], table, error)) {
    std::fprintf(stderr, "voxactl: %s\n", error.c_str());
    return kExitFailed;
  }
  std::string svg = xy ? XySvg(table, ax, ay, error) : TimeSvg(table);
  if (svg.empty()) {
    std::fprintf(stderr, "voxactl: %s\n", error.c_str());
    return kExitFailed;
  }
  std::ofstream out(*svg_path, std::ios::binary);
  out << svg;
  out.close();
  if (!out) {
    std::fprintf(stderr, "voxactl: cannot write %s\n", svg_path->c_str());
    return kExitFailed;
  }
  std::printf("wrote %s\n", svg_path->c_str());
  return kExitOk;
}

}  // namespace

int Table::Column(const std::string& name) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i] == name) return static_cast<int>(i);
  return -1;
}

bool ReadCsv(const std::string& path, Table& table, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  if (!std::getline(in, line) || (table.columns = Split(line, ',')).empty() || table.columns[0] != "time_s") {
    error = path + " is not a recording (its first line must start with time_s)";
    return false;
  }
  for (int n = 2; std::getline(in, line); ++n) {
    if (line.empty()) continue;
    const auto cells = Split(line, ',');
    std::vector<double> row(cells.size());
    bool ok = cells.size() == table.columns.size();
    for (size_t i = 0; ok && i < cells.size(); ++i) ok = ParseNumber(cells[i], row[i]);
    if (!ok) {
      error = path + ":" + std::to_string(n) + ": expected " + std::to_string(table.columns.size()) + " numbers";
      return false;
    }
    table.rows.push_back(std::move(row));
  }
  return true;
}

std::string TimeSvg(const Table& t) {
  // Panels in the order the signals first appear.
  std::vector<std::string> signals;
  for (size_t c = 1; c < t.columns.size(); ++c) {
    std::string sig;
    int axis;
    if (SplitColumn(t.columns[c], sig, axis) && std::find(signals.begin(), signals.end(), sig) == signals.end())
      signals.push_back(sig);
  }
  constexpr double kW = 900, kPanel = 240, kLeft = 90, kRight = 110, kTop = 36, kBottom = 56;
  const double height = kTop + static_cast<double>(signals.size()) * (kPanel + kBottom) + 8;
  std::string svg = Head(kW, height, "recording");
  Range rt;
  for (const auto& row : t.rows) rt.Add(row[0]);
  rt.Widen();
  for (size_t p = 0; p < signals.size(); ++p) {
    Frame f{kLeft, kTop + static_cast<double>(p) * (kPanel + kBottom), kW - kLeft - kRight, kPanel, rt, {}};
    std::vector<std::pair<int, int>> cols;  // column, axis
    for (size_t c = 1; c < t.columns.size(); ++c) {
      std::string sig;
      int axis;
      if (SplitColumn(t.columns[c], sig, axis) && sig == signals[p]) {
        cols.emplace_back(static_cast<int>(c), axis);
        for (const auto& row : t.rows) f.ry.Add(row[c]);
      }
    }
    f.ry.Widen();
    const double pad = 0.05 * (f.ry.hi - f.ry.lo);
    f.ry.lo -= pad;
    f.ry.hi += pad;
    std::string label = signals[p];
    for (const Signal& s : kSignals)
      if (signals[p] == s.name) label = s.label;
    Axes(svg, f, "time (s)", label);
    for (size_t k = 0; k < cols.size(); ++k) {
      std::vector<std::pair<double, double>> pts;
      for (const auto& row : t.rows) pts.emplace_back(row[0], row[cols[k].first]);
      const char* color = kColors[cols[k].second & 7];
      Series(svg, f, t.columns[cols[k].first], color, pts);
      const double ly = f.y + 14 + 18 * static_cast<double>(k);
      svg += "<line x1=\"" + Num(kW - kRight + 12) + "\" y1=\"" + Num(ly - 4) + "\" x2=\"" + Num(kW - kRight + 32) +
             "\" y2=\"" + Num(ly - 4) + "\" stroke=\"" + color + "\" stroke-width=\"2\"/><text x=\"" +
             Num(kW - kRight + 38) + "\" y=\"" + Num(ly) + "\">axis " + std::to_string(cols[k].second) + "</text>\n";
    }
  }
  return svg + "</svg>\n";
}

std::string XySvg(const Table& t, int x, int y, std::string& error) {
  const int cx = t.Column("pos" + std::to_string(x)), cy = t.Column("pos" + std::to_string(y));
  if (cx < 0 || cy < 0) {
    error = "the recording has no position of axis " + std::to_string(cx < 0 ? x : y) + " (columns pos" +
            std::to_string(x) + " and pos" + std::to_string(y) + " are needed)";
    return "";
  }
  Range rx, ry;
  for (const auto& row : t.rows) rx.Add(row[cx]), ry.Add(row[cy]);
  rx.Widen();
  ry.Widen();
  // Equal scale: the larger extent fills its side, the other is centred.
  constexpr double kSide = 640, kLeft = 90, kTop = 36, kMargin = 56;
  const double scale = kSide / std::max(rx.hi - rx.lo, ry.hi - ry.lo);
  const double w = (rx.hi - rx.lo) * scale, h = (ry.hi - ry.lo) * scale;
  // The frame around the data: the data's extent padded by 5 % of the larger side.
  const double pad = 0.05 * kSide / scale;
  Frame f{kLeft, kTop, w + 2 * pad * scale, h + 2 * pad * scale, {rx.lo - pad, rx.hi + pad}, {ry.lo - pad, ry.hi + pad}};
  std::string svg = Head(f.w + kLeft + 30, f.h + kTop + kMargin, "path of axes " + std::to_string(x) + " and " + std::to_string(y));
  const std::string ax = std::to_string(x), ay = std::to_string(y);
  Axes(svg, f, "axis " + ax + " position (pulses)", "axis " + ay + " position (pulses)");
  std::vector<std::pair<double, double>> pts;
  for (const auto& row : t.rows) pts.emplace_back(row[cx], row[cy]);
  Series(svg, f, "pos" + ax + ",pos" + ay, kColors[0], pts);
  if (!pts.empty())
    svg += "<circle cx=\"" + Num(f.X(pts.front().first)) + "\" cy=\"" + Num(f.Y(pts.front().second)) +
           "\" r=\"4\" fill=\"#2ca02c\"><title>start</title></circle>\n<circle cx=\"" + Num(f.X(pts.back().first)) +
           "\" cy=\"" + Num(f.Y(pts.back().second)) + "\" r=\"4\" fill=\"#d62728\"><title>end</title></circle>\n";
  return svg + "</svg>\n";
}

std::function<int(Session&)> ParseRecord(const std::vector<std::string>& in) {
  std::vector<std::string> args = in;
  std::string error;
  RecordOptions o;
  const auto signals = Option(args, "--signals", error);
  const auto axes = Option(args, "--axes", error);
  const auto duration = Option(args, "--duration", error);
  const auto state_ms = Option(args, "--state-ms", error);
  const auto csv = Option(args, "--csv", error);
  auto bad = [](const std::string& what) {
    UsageError(what, kRecordUsage);
    return std::function<int(Session&)>();
  };
  if (!error.empty()) return bad(error);
  if (!args.empty()) return bad(args[0][0] == '-' ? "unknown option " + args[0] : "too many arguments");
  if (!csv || csv->empty()) return bad("--csv FILE is missing");
  o.csv = *csv;
  for (const std::string& name : Split(signals.value_or("pos,vel"), ',')) {
    const Signal* found = nullptr;
    for (const Signal& s : kSignals)
      if (name == s.name) found = &s;
    if (!found) return bad("'" + name + "' is not a signal (pos, vel, enc, status)");
    if (std::find(o.signals.begin(), o.signals.end(), found) == o.signals.end()) o.signals.push_back(found);
  }
  for (const std::string& a : Split(axes.value_or("0,1"), ',')) {
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

int RunPlot(const std::vector<std::string>& args) { return RunPlotCommand(args); }

}  // namespace voxactl
