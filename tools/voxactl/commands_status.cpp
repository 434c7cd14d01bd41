// `status` and `monitor`: the board's state, once or live, as a table or JSON.
#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "commands.h"
#include "voxa/voxa.h"

namespace voxactl {
namespace {

// State packet contents of `monitor`: chip and axis status, positions,
// encoders, velocities.
constexpr int kMonitorContents = VOXA_STATE_TIMER_CHIPSTATUS | VOXA_STATE_TIMER_AXISSTATUS |
                                 VOXA_STATE_TIMER_CURPOS | VOXA_STATE_TIMER_ENCPOS | VOXA_STATE_TIMER_CURVEL;

std::string EngineText() {
  char text[128] = "";
  VOXA_Get_EngineVer(text, static_cast<int>(sizeof text));
  return text;
}

// The status table; lines end with `eol`.
std::string StatusText(Session& s, const char* eol) {
  std::string out;
  char line[256];
  auto add = [&](const char* fmt, auto... args) {
    std::snprintf(line, sizeof line, fmt, args...);
    out += line;
    out += eol;
  };
  const bool link = VOXA_Is_Link() || s.HeartbeatWithin(Ms(1500));
  add("board      %s", s.Description().c_str());
  add("link       %s", link ? "up" : "down (no heartbeat)");
  add("engine     %s", EngineText().c_str());
  const std::string news = s.LinkNews();
  if (!news.empty()) add("news       %s", news.c_str());
  add("execution  %s", ExecutionText().c_str());
  add("alarm      %s", AlarmText().c_str());
  add("%s", "");
  add("axis    position     encoder    velocity  limit-  limit+  soft-  soft+  alarm");
  for (int a = 0; a < 8; ++a) {
    const int m = 1 << a;
    auto bit = [](int v) { return v ? "X" : "."; };
    add("%4d %11d %11d %11d %7s %7s %6s %6s %6s", a, VOXA_Get_CurPos(m), VOXA_Get_EncPos(m), VOXA_Get_CurVelAxis(m),
        bit(VOXA_Is_LimitL(m)), bit(VOXA_Is_LimitH(m)), bit(VOXA_Is_SoftLimitL(m)), bit(VOXA_Is_SoftLimitH(m)),
        bit(VOXA_Is_AlarmAxis(m)));
  }
  return out;
}

// ---- JSON: one object per line, for scripts

// The status as one JSON object (no line end); `extra` goes in first.
std::string StatusJson(Session& s, const std::string& extra = "") {
  const StateWords w = State();
  const bool link = VOXA_Is_Link() || s.HeartbeatWithin(Ms(1500));
  std::string out = "{" + extra;
  out += "\"board\":" + JsonString(s.Description()) + ",\"link\":\"" + (link ? "up" : "down") +
         "\",\"engine\":" + JsonString(EngineText()) + ",\"state\":" + JsonString(StateText(w)) +
         ",\"enable\":\"" + w.enable + "\",\"activity\":\"" + w.activity +
         "\",\"board_queue\":" + std::to_string(VOXA_Get_EngineQueueLeftCmd()) +
         ",\"host_queue\":" + std::to_string(VOXA_Get_SoftQueueLeftCmd()) + ",\"alarm\":";
  if (VOXA_Is_Alarm()) {
    std::string axes;
    for (int a = 0; a < 8; ++a)
      if (VOXA_Is_AlarmAxis(1 << a)) axes += (axes.empty() ? "" : ",") + std::to_string(a);
    out += "{\"code\":" + std::to_string(static_cast<unsigned>(VOXA_Get_Alarm())) +
           ",\"emergency_stop\":" + JsonBool(VOXA_Is_EStop()) + ",\"axes\":[" + axes + "]}";
  } else {
    out += "null";
  }
  out += ",\"axes\":[";
  for (int a = 0; a < 8; ++a) {
    const int m = 1 << a;
    char axis[320];
    std::snprintf(axis, sizeof axis,
                  "%s{\"axis\":%d,\"position\":%d,\"encoder\":%d,\"velocity\":%d,\"limit_low\":%s,"
                  "\"limit_high\":%s,\"soft_limit_low\":%s,\"soft_limit_high\":%s,\"alarm\":%s}",
                  a ? "," : "", a, VOXA_Get_CurPos(m), VOXA_Get_EncPos(m), VOXA_Get_CurVelAxis(m),
                  JsonBool(VOXA_Is_LimitL(m)), JsonBool(VOXA_Is_LimitH(m)), JsonBool(VOXA_Is_SoftLimitL(m)),
                  JsonBool(VOXA_Is_SoftLimitH(m)), JsonBool(VOXA_Is_AlarmAxis(m)));
    out += axis;
  }
  return out + "]}";
}

Command CmdStatus(Args& args) {
  const int64_t wait = args.Number("--wait", 0, 600000).value_or(3000);
  const bool json = args.Flag("--json");
  if (!args.Positionals(0, 0)) return Bad(args.Error());
  return Do([=](Session& s) {
    if (!Refresh(s, VOXA_REFRESH_STATUS, wait)) {
      if (s.Interrupted()) return kExitInterrupted;
      if (s.ReceivedFrames() == 0) {
        std::fprintf(stderr, "voxactl: the board did not answer within %" PRId64 " ms\n", wait);
        return kExitFailed;
      }
      std::fprintf(stderr, "voxactl: the board has not reported every status register yet\n");
    }
    // The link line needs the answer to a keep-alive.
    if (!VOXA_Is_Link()) s.WaitHeartbeat(Ms(std::min<int64_t>(wait, 1000)));
    std::fputs(json ? (StatusJson(s) + "\n").c_str() : StatusText(s, "\n").c_str(), stdout);
    return kExitOk;
  });
}

Command CmdMonitor(Args& args) {
  const int64_t interval = args.Number("--interval", 20, 60000).value_or(200);
  const std::optional<int64_t> period = args.Number("--period", 25, 1000);
  const bool passive = args.Flag("--passive");
  const bool json = args.Flag("--json");
  if (!args.Positionals(0, 0)) return Bad(args.Error());
  if (passive && period) return Bad(UsageError("--period and --passive exclude each other", "monitor"));
  int selector = 0;
  constexpr struct {
    int ms, selector;
  } kPeriods[] = {{25, VOXA_STATE_TIMER_25MS},   {50, VOXA_STATE_TIMER_50MS},   {100, VOXA_STATE_TIMER_100MS},
                  {200, VOXA_STATE_TIMER_200MS}, {250, VOXA_STATE_TIMER_250MS}, {500, VOXA_STATE_TIMER_500MS},
                  {1000, VOXA_STATE_TIMER_1000MS}};
  for (const auto& p : kPeriods)
    if (p.ms == period.value_or(100)) selector = p.selector;
  if (selector == 0) return Bad(UsageError("--period takes 25, 50, 100, 200, 250, 500 or 1000", "monitor"));
  return Do([=](Session& s) {
    if (!passive) {
      Immediate im;
      VOXA_Set_StateTimer(selector | kMonitorContents);
      if (!Ok("VOXA_Set_StateTimer")) return kExitFailed;
    }
    const bool tty = !json && voxa::platform::StdoutIsTerminal();
    if (tty) std::fputs("\x1b[?25l\x1b[H\x1b[2J", stdout);
    auto next = Clock::now();
    const auto start = next;
    do {
      const double t = std::chrono::duration<double>(Clock::now() - start).count();
      if (json) {
        char head[64];
        std::snprintf(head, sizeof head, "\"time_s\":%.3f,", t);
        std::fputs((StatusJson(s, head) + "\n").c_str(), stdout);
        std::fflush(stdout);
        next += Ms(interval);
        continue;
      }
      char head[160];
      std::snprintf(head, sizeof head, "voxactl monitor   %.1f s   %" PRIu64 " frames received   Ctrl-C quits", t,
                    s.ReceivedFrames());
      std::string screen = tty ? "\x1b[H" : "";
      screen += head;
      screen += tty ? "\x1b[K\n\x1b[K\n" : "\n\n";
      screen += StatusText(s, tty ? "\x1b[K\n" : "\n");
      screen += tty ? "\x1b[J" : "\n";
      std::fputs(screen.c_str(), stdout);
      std::fflush(stdout);
      next += Ms(interval);
    } while (s.Pause(next));
    if (tty) std::fputs("\x1b[?25h\n", stdout);
    std::fflush(stdout);
    // Off again, what monitor switched on.
    if (!passive) {
      Immediate im;
      VOXA_Clr_StateTimer(1 | kMonitorContents);
    }
    return kExitOk;
  });
}

}  // namespace

std::span<const CommandSpec> StatusCommands() {
  static constexpr CommandSpec kCommands[] = {
      {"status", "status [--wait MS] [--json]",
       "Prints one snapshot of the board: link (up or down), engine version, execution state\n"
       "('<enabled|disabled>, <emergency stop|alarm|paused|moving|running|at rest>'), queues and,\n"
       "per axis, position, encoder, velocity, limit and alarm bits. Waits up to MS (default\n"
       "3000) for the board to report its status registers. --json prints one JSON object.",
       &CmdStatus},
      {"monitor", "monitor [--interval MS] [--period MS | --passive] [--json]",
       "Shows the status live, refreshing in place every MS (default 200), until Ctrl-C;\n"
       "--json prints one JSON object per line instead (as status --json, with time_s).\n"
       "Switches the board's state packets on at --period MS (25, 50, 100, 200, 250, 500,\n"
       "1000; default 100) for fresh values, and off again on the way out; --passive leaves\n"
       "the board's settings alone and shows what the register polls bring (about 1.5 s old).",
       &CmdMonitor},
  };
  return kCommands;
}

}  // namespace voxactl
