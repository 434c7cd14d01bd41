// voxactl: a board from the command line, through the public C API.
//
//   voxactl --tcp 192.168.0.50 status
//   voxactl --serial /dev/ttyUSB0 --baud 115200 line 0=1000 1=2000
//
// Exit codes: 0 done, 1 a call or the board failed (the error code's
// meaning goes to standard error), 2 bad usage (found before anything is
// opened), 130 interrupted.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "frame_text.h"
#include "saved_config.h"
#ifndef VOXACTL_NO_PANEL
#include "panel/panel.h"
#endif
#include "record.h"
#include "session.h"
#include "voxa/voxa.h"

namespace voxactl {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// Registers only the board writes: `set` refuses them.
constexpr uint32_t kBoardOnlyRegs = (1u << VOXA_REG_CHIPSTATUS) | (1u << VOXA_REG_AXISSTATUS) |
                                    (1u << VOXA_REG_CURVEL) | (1u << VOXA_REG_FEEDBACK);
// How long a command waits for the board to answer before it gives up.
constexpr Ms kAnswerTimeout{2000};
// Every register the library polls (all but CAL2 and CAL3).
constexpr uint32_t kPolledRegs = ~((1u << VOXA_REG_CAL2) | (1u << VOXA_REG_CAL3));
// The command ID voxactl tags its motion commands with.
constexpr int kMotionId = 0xA0;
// State packet contents of `monitor`: chip and axis status, positions,
// encoders, velocities.
constexpr int kMonitorContents = VOXA_STATE_TIMER_CHIPSTATUS | VOXA_STATE_TIMER_AXISSTATUS |
                                 VOXA_STATE_TIMER_CURPOS | VOXA_STATE_TIMER_ENCPOS | VOXA_STATE_TIMER_CURVEL;

// Asks the board for the registers and waits for its answers, at most
// timeout_ms; Ctrl-C ends the wait by closing the board. False when the
// board did not answer in time or Ctrl-C came.
bool Refresh(Session& s, uint32_t regs, int64_t timeout_ms) {
  s.SetInterruptAction([&s] { s.Close(); });
  const bool ok = !s.Interrupted() && VOXA_Refresh(regs, static_cast<int>(timeout_ms)) == 1;
  s.SetInterruptAction(nullptr);
  return ok && !s.Interrupted();
}

// ---------------------------------------------------------------- usage

struct CommandHelp {
  const char* name;
  const char* usage;
  const char* text;
};

constexpr CommandHelp kCommands[] = {
    {"status", "status [--wait MS]",
     "Prints one snapshot of the board: link, engine version, execution state and, per axis,\n"
     "position, encoder, velocity, limit and alarm bits. Waits up to MS (default 3000) for the\n"
     "board to report its status registers."},
    {"monitor", "monitor [--interval MS] [--period MS | --passive]",
     "Shows the status live, refreshing in place every MS (default 200), until Ctrl-C.\n"
     "Switches the board's state packets on at --period MS (25, 50, 100, 200, 250, 500,\n"
     "1000; default 100) for fresh values, and off again on the way out; --passive leaves\n"
     "the board's settings alone and shows what the register polls bring (about 1.5 s old)."},
    {"move", "move [--relative] [--vel V] [--acc A] [--timeout MS] [--no-wait] AXIS=POS...",
     "Moves each axis on its own to POS (absolute), or by POS with --relative, and waits for\n"
     "the board to report the move complete (default timeout 60000 ms). --vel sets the axes'\n"
     "drive velocity, --acc their acceleration and deceleration. Waiting switches the board's\n"
     "complete state packets on. Nothing is sent while the board does not answer or reports\n"
     "an alarm or an emergency stop. A wait that ends without the completion (timeout,\n"
     "Ctrl-C, the board falling silent) stops the axes and clears the board's and the\n"
     "host's queues. A completion that follows a stop from this host is reported as a stop\n"
     "before the end, with the positions, and fails."},
    {"line", "line [--vel V] [--acc A] [--timeout MS] [--no-wait] AXIS=POS...",
     "Linear interpolation of the axes to the absolute positions; otherwise as move."},
    {"home", "home [--vel V] [--value N] [--timeout MS] [--no-wait] AXIS...",
     "Home return of the axes; their position becomes N (default 0) at home. --vel sets the\n"
     "home seek velocity. Otherwise as move."},
    {"stop", "stop [--now]",
     "Stops every axis: decelerating, or at once with --now (an emergency stop: 'reset' ends\n"
     "it). The board's queue is emptied. Fails when the board does not answer afterwards."},
    {"reset", "reset",
     "Clears the host's and the board's queues, resets the board's alarm (and emergency stop),\n"
     "then resumes execution; prints the state left. Motion queued before the reset never runs."},
    {"enable", "enable", "Enables execution on the board and resumes it; prints the state left."},
    {"disable", "disable",
     "Holds execution: the board pauses, queued commands wait until 'enable' or 'reset'; prints\n"
     "the state left."},
    {"regs", "regs [--dec] [--reported]",
     "Prints the register image as a table, register names and eight words each, once the\n"
     "board has answered a read of every polled register. Status registers (CHIPSTATUS, AXISSTATUS,\n"
     "CURPOS, ENCPOS, CURVEL, FEEDBACK, CUSTOM, GIO, EXTIO) show what the board reported;\n"
     "settings registers what this process set. --reported shows every register as the board\n"
     "reported it instead ('-' for words it did not report). --dec prints signed decimals."},
    {"get", "get [--reported] REG WORD",
     "Prints word WORD (0..7) of register REG (number 0..31 or name, e.g. CURPOS) of the\n"
     "register image, or as the board reported it with --reported."},
    {"set", "set REG WORD VALUE",
     "Sets word WORD of register REG to VALUE (decimal, or hex with 0x; negative values are\n"
     "taken as 32-bit two's complement) in the register image and writes it to the board.\n"
     "The registers only the board writes (CHIPSTATUS, AXISSTATUS, CURVEL, FEEDBACK) are refused."},
    {"save", "save FILE",
     "Saves the board's registers to a configuration file (other sections of an existing file\n"
     "stay): every register is read from the board first, and nothing is written when the\n"
     "board does not answer them all. The PID setups are saved as this process knows them\n"
     "(none): keep those of a file saved by the application that set them up."},
    {"load", "load FILE",
     "Loads a configuration file onto the board (about half a second), with a progress bar on\n"
     "a terminal."},
    {"trace", "trace [--duration MS] [--count N] [--no-polls]",
     "Prints every frame both ways as it passes: time since the start in seconds, direction\n"
     "(-> to the board, <- from it), the decoded command or packet and the bytes in hex.\n"
     "Runs until Ctrl-C, for MS milliseconds or for N frames. --no-polls leaves out the\n"
     "library's register polls and keep-alives and the board's answers to them. Shows the\n"
     "frames of voxactl's own connection only, not those of other programs."},
#ifndef VOXACTL_NO_PANEL
    {"panel", "panel [--sim] [--listen ADDR:PORT] [--state-ms MS]",
     "Serves a page from which the board is watched and driven in a browser ('voxactl panel --help')."},
#endif
    {"record", kRecordUsage, kRecordHelp},
    {"plot", kPlotUsage, kPlotHelp},
};

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: voxactl (--tcp ADDR[:PORT] | --serial DEV [--baud N]) COMMAND [ARGS]\n"
               "       voxactl --help | --version\n"
               "\n"
               "  --tcp ADDR[:PORT]  a board over TCP (IPv4 address, port 1000 by default)\n"
               "  --serial DEV       a board on a serial line: a device path, or port number n\n"
               "                     for /dev/ttyS<n-1> (COMn on Windows)\n"
               "  --baud N           the serial line's baud rate (default 115200)\n"
               "\n"
               "commands:\n");
  for (const CommandHelp& c : kCommands) std::fprintf(out, "  %s\n", c.usage);
#ifdef VOXACTL_NO_PANEL
  std::fprintf(out, "\nThe panel (voxactl panel) is Linux-only: this build has none.\n");
#endif
  std::fprintf(out, "\n'voxactl COMMAND --help' tells more about a command.\n");
}

const CommandHelp* FindCommand(std::string_view name) {
  for (const CommandHelp& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

int UsageError(const std::string& what, const char* command = nullptr) {
  std::fprintf(stderr, "voxactl: %s\n", what.c_str());
  if (command)
    std::fprintf(stderr, "usage: voxactl ... %s\n", FindCommand(command)->usage);
  else
    std::fprintf(stderr, "Try 'voxactl --help'.\n");
  return kExitUsage;
}

// ---------------------------------------------------------------- parsing

// A decimal or 0x-hex integer with an optional sign, the whole text.
std::optional<int64_t> ParseInt(std::string_view s) {
  bool neg = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  // At most 18 decimal or 15 hex digits: no overflow.
  if (s.empty() || s.size() > (base == 16 ? 15u : 18u)) return std::nullopt;
  int64_t v = 0;
  for (char ch : s) {
    int d;
    if (ch >= '0' && ch <= '9')
      d = ch - '0';
    else if (base == 16 && ch >= 'a' && ch <= 'f')
      d = ch - 'a' + 10;
    else if (base == 16 && ch >= 'A' && ch <= 'F')
      d = ch - 'A' + 10;
    else
      return std::nullopt;
    v = v * base + d;
  }
  return neg ? -v : v;
}

std::optional<int32_t> ParseInt32(std::string_view s) {
  auto v = ParseInt(s);
  if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(*v);
}

// A register by number (0..31) or by name, any case.
std::optional<int> ParseRegister(std::string_view s) {
  if (auto v = ParseInt32(s)) return *v >= 0 && *v < 32 ? std::optional<int>(*v) : std::nullopt;
  std::string upper(s);
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (int r = 0; r < 32; ++r)
    if (upper == VOXA_Get_RegName(r)) return r;
  return std::nullopt;
}

// The arguments of one command: flags, options with a value, positionals.
class Args {
 public:
  Args(const char* command, std::vector<std::string> args) : command_(command), args_(std::move(args)) {}

  bool Flag(const char* name) {
    for (size_t i = 0; i < args_.size(); ++i)
      if (args_[i] == name) {
        args_.erase(args_.begin() + static_cast<long>(i));
        return true;
      }
    return false;
  }
  // --name VALUE or --name=VALUE; error_ is set on a bad value.
  std::optional<int64_t> Number(const char* name, int64_t lo, int64_t hi) {
    const std::string eq = std::string(name) + "=";
    for (size_t i = 0; i < args_.size(); ++i) {
      std::string text;
      if (args_[i] == name) {
        if (i + 1 >= args_.size()) {
          error_ = std::string(name) + " needs a value";
          return std::nullopt;
        }
        text = args_[i + 1];
        args_.erase(args_.begin() + static_cast<long>(i), args_.begin() + static_cast<long>(i) + 2);
      } else if (args_[i].rfind(eq, 0) == 0) {
        text = args_[i].substr(eq.size());
        args_.erase(args_.begin() + static_cast<long>(i));
      } else {
        continue;
      }
      auto v = ParseInt(text);
      if (!v || *v < lo || *v > hi) {
        error_ = std::string(name) + " takes a number from " + std::to_string(lo) + " to " + std::to_string(hi);
        return std::nullopt;
      }
      return v;
    }
    return std::nullopt;
  }
  // The positionals left; an unknown option is an error.
  bool Positionals(size_t min, size_t max) {
    if (!error_.empty()) return false;
    for (const std::string& a : args_)
      if (a.size() > 1 && a[0] == '-' && !ParseInt(a)) {
        error_ = "unknown option " + a;
        return false;
      }
    if (args_.size() < min || args_.size() > max) {
      error_ = args_.size() < min ? "missing arguments" : "too many arguments";
      return false;
    }
    return true;
  }
  const std::vector<std::string>& rest() const { return args_; }
  int Error() const { return UsageError(error_, command_); }

 private:
  const char* command_;
  std::vector<std::string> args_;
  std::string error_;
};

// A command line checked before the board is opened: a usage error's exit
// code, or what to do once it is open.
struct Command {
  int rc = kExitOk;
  std::function<int(Session&)> run;
};

Command Bad(int rc) { return Command{rc, nullptr}; }
Command Do(std::function<int(Session&)> run) { return Command{kExitOk, std::move(run)}; }

// ---------------------------------------------------------------- calls

// Checks the error flag of the call just made; prints the failure.
bool Ok(const char* function) {
  if (!VOXA_Is_Err()) return true;
  const int code = VOXA_Get_LastErr();
  std::fprintf(stderr, "voxactl: %s failed: error %d: %s\n", function, code, VOXA_Get_ErrText(code));
  return false;
}

// Commands inside go to the board at once, not through the host's queue:
// nothing is left behind in it when voxactl closes the board.
class Immediate {
 public:
  Immediate() { VOXA_Enter_ImCmd(); }
  ~Immediate() { VOXA_Leave_ImCmd(); }
  Immediate(const Immediate&) = delete;
  Immediate& operator=(const Immediate&) = delete;
};

std::string EngineText() {
  char text[128] = "";
  VOXA_Get_EngineVer(text, static_cast<int>(sizeof text));
  return text;
}

// The board's status, asked for anew: 0 when the board answered, else the
// exit code, with `consequence` told on standard error.
int BoardAnswers(Session& s, const char* consequence) {
  if (Refresh(s, (1u << VOXA_REG_CHIPSTATUS) | (1u << VOXA_REG_AXISSTATUS), kAnswerTimeout.count())) return kExitOk;
  if (s.Interrupted()) return kExitInterrupted;
  std::fprintf(stderr, "voxactl: the board did not answer within %lld ms; %s\n",
               static_cast<long long>(kAnswerTimeout.count()), consequence);
  return kExitFailed;
}

// Empties the host's and the board's queues, then stops the axes,
// decelerating: nothing queued starts after the stop.
void StopAndClear() {
  Immediate im;
  VOXA_Clr_Queue();
  VOXA_DecStop();
}

// ---------------------------------------------------------------- status

std::string ExecutionText() {
  static const char* const kStates[] = {"idle", "running", "paused", "e-stopped"};
  const int state = VOXA_Get_CmdState();
  std::string s = VOXA_Is_EnableExe() ? "enabled, " : "disabled, ";
  s += state >= 0 && state <= 3 ? kStates[state] : "?";
  if (VOXA_Is_OnMotion()) s += ", on motion";
  if (VOXA_Is_Busy()) s += ", busy";
  s += "; board queue " + std::to_string(VOXA_Get_EngineQueueLeftCmd()) + ", host queue " +
       std::to_string(VOXA_Get_SoftQueueLeftCmd());
  return s;
}

// "none", or the alarm with its code, whether it is an emergency stop, and
// the axes that report one.
std::string AlarmText() {
  if (!VOXA_Is_Alarm()) return "none";
  char text[96];
  std::snprintf(text, sizeof text, "%s, code 0x%08X", VOXA_Is_EStop() ? "EMERGENCY STOP" : "ALARM",
                static_cast<unsigned>(VOXA_Get_Alarm()));
  std::string axes;
  for (int a = 0; a < 8; ++a)
    if (VOXA_Is_AlarmAxis(1 << a)) axes += " " + std::to_string(a);
  return text + (axes.empty() ? "" : ", axes" + axes);
}

// The board's execution state and alarm, two lines.
std::string StateText() { return "execution  " + ExecutionText() + "\nalarm      " + AlarmText() + "\n"; }

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

Command CmdStatus(Args& args) {
  const int64_t wait = args.Number("--wait", 0, 600000).value_or(3000);
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
    std::fputs(StatusText(s, "\n").c_str(), stdout);
    return kExitOk;
  });
}

Command CmdMonitor(Args& args) {
  const int64_t interval = args.Number("--interval", 20, 60000).value_or(200);
  const std::optional<int64_t> period = args.Number("--period", 25, 1000);
  const bool passive = args.Flag("--passive");
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
    const bool tty = voxa::platform::StdoutIsTerminal();
    if (tty) std::fputs("\x1b[?25l\x1b[H\x1b[2J", stdout);
    auto next = Clock::now();
    const auto start = next;
    do {
      const double t = std::chrono::duration<double>(Clock::now() - start).count();
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

// ---------------------------------------------------------------- motion

struct Targets {
  int mask = 0;
  int values[8] = {};
};

bool ParseTargets(const std::vector<std::string>& items, Targets& t, std::string& error) {
  for (const std::string& item : items) {
    const size_t eq = item.find('=');
    std::optional<int32_t> axis = eq == std::string::npos ? std::nullopt : ParseInt32(item.substr(0, eq));
    std::optional<int32_t> value = eq == std::string::npos ? std::nullopt : ParseInt32(item.substr(eq + 1));
    if (!axis || !value || *axis < 0 || *axis > 7) {
      error = "'" + item + "' is not AXIS=POSITION with an axis 0..7 and a 32-bit position";
      return false;
    }
    t.mask |= 1 << *axis;
    t.values[*axis] = *value;
  }
  return true;
}

bool ParseAxes(const std::vector<std::string>& items, int& mask, std::string& error) {
  for (const std::string& item : items) {
    auto axis = ParseInt32(item);
    if (!axis || *axis < 0 || *axis > 7) {
      error = "'" + item + "' is not an axis 0..7";
      return false;
    }
    mask |= 1 << *axis;
  }
  return true;
}

// Sends a motion command tagged kMotionId and waits for its completion.
// `send` runs inside the immediate bracket, after the complete state
// packets were switched on, so nothing it sends overtakes them. Nothing is
// sent to a board that does not answer or reports an alarm; a wait that
// ends without the completion leaves nothing behind.
template <class Send>
int RunMotion(Session& s, const char* what, int mask, bool wait, int64_t timeout, Send&& send) {
  if (const int rc = BoardAnswers(s, "nothing was sent")) return rc;
  if (VOXA_Is_Alarm()) {
    std::fprintf(stderr, "voxactl: the board reports %s; nothing was sent ('voxactl reset' clears it)\n",
                 AlarmText().c_str());
    return kExitFailed;
  }
  {
    Immediate im;
    if (wait) {
      VOXA_Enable_CompleteStatePacket(1);
      if (!Ok("VOXA_Enable_CompleteStatePacket")) return kExitFailed;
    }
    VOXA_Set_CmdID(kMotionId);
    const bool sent = send();
    VOXA_Set_CmdID(VOXA_CMDID_NONE);
    if (!sent) return kExitFailed;
  }
  if (!wait) {
    std::printf("%s started\n", what);
    return kExitOk;
  }
  // Ctrl-C clears the queues and stops the axes at once, on the signal
  // watch's thread.
  s.SetInterruptAction(StopAndClear);
  int done = 0;
  bool silent = false;
  if (s.Interrupted()) {
    StopAndClear();  // it came before the action was set
  } else {
    // In slices, to notice a board that falls silent.
    const auto deadline = Clock::now() + Ms(timeout);
    while (!done && !s.Interrupted() && Clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
      done = VOXA_WaitMotion(kMotionId, static_cast<uint32_t>(std::clamp<int64_t>(left, 0, 500)));
      if (!done && !s.ReceivedWithin(kAnswerTimeout)) {
        silent = true;
        break;
      }
    }
  }
  s.SetInterruptAction(nullptr);
  if (s.Interrupted()) {
    std::fprintf(stderr, "voxactl: interrupted; the axes were stopped and both queues cleared\n");
    return kExitInterrupted;
  }
  if (!done) {
    StopAndClear();
    if (silent)
      std::fprintf(stderr, "voxactl: the board stopped answering during the %s; a stop and a queue clear were sent, "
                   "but it may still be moving\n", what);
    else if (!Refresh(s, 1u << VOXA_REG_CHIPSTATUS, kAnswerTimeout.count()))
      std::fprintf(stderr, "voxactl: the board did not report the %s complete within %" PRId64 " ms; a stop and a "
                   "queue clear were sent, but the board does not answer: it may still be moving\n", what, timeout);
    else
      std::fprintf(stderr, "voxactl: the board did not report the %s complete within %" PRId64 " ms; the axes "
                   "were stopped and both queues cleared\n", what, timeout);
    return kExitFailed;
  }
  // A completion that came after a stop from this host is a stopped
  // move, not an arrival.
  const bool stopped = VOXA_Get_WaitReason() == VOXA_COMPLETE_HOST_STOP;
  // Positions and alarms as the board reports them after the move.
  Refresh(s, VOXA_REFRESH_STATUS, kAnswerTimeout.count());
  std::string where;
  for (int a = 0; a < 8; ++a)
    if (mask & (1 << a)) {
      where += ' ';
      where += std::to_string(a);
      where += '=';
      where += std::to_string(VOXA_Get_CurPos(1 << a));
    }
  if (stopped) {
    std::fprintf(stderr, "voxactl: the %s stopped before its end at%s\n", what, where.c_str());
    return kExitFailed;
  }
  if (VOXA_Is_Alarm()) {
    std::fprintf(stderr, "voxactl: the %s ended with an alarm (code 0x%08X); positions%s\n", what,
                 static_cast<unsigned>(VOXA_Get_Alarm()), where.c_str());
    return kExitFailed;
  }
  std::printf("%s complete; positions%s\n", what, where.c_str());
  return kExitOk;
}

// --vel and --acc of move and line.
bool SetProfile(int mask, std::optional<int64_t> vel, std::optional<int64_t> acc) {
  if (vel) {
    VOXA_Set_DriveVelAxis(mask, static_cast<int>(*vel));
    if (!Ok("VOXA_Set_DriveVelAxis")) return false;
  }
  if (acc) {
    VOXA_Set_AccAxis(mask, static_cast<int>(*acc));
    if (!Ok("VOXA_Set_AccAxis")) return false;
    VOXA_Set_DecAxis(mask, static_cast<int>(*acc));
    if (!Ok("VOXA_Set_DecAxis")) return false;
  }
  return true;
}

Command CmdMove(Args& args, bool line) {
  const char* name = line ? "line" : "move";
  const bool relative = !line && args.Flag("--relative");
  const bool no_wait = args.Flag("--no-wait");
  const auto vel = args.Number("--vel", 1, 65535);
  const auto acc = args.Number("--acc", 1, 65535);
  const int64_t timeout = args.Number("--timeout", 1, 86400000).value_or(60000);
  if (!args.Positionals(1, 8)) return Bad(args.Error());
  Targets t;
  std::string error;
  if (!ParseTargets(args.rest(), t, error)) return Bad(UsageError(error, name));
  return Do([=](Session& s) {
    return RunMotion(s, name, t.mask, !no_wait, timeout, [&] {
      if (!SetProfile(t.mask, vel, acc)) return false;
      if (line) {
        VOXA_Line(t.mask, t.values);
        return Ok("VOXA_Line");
      }
      if (relative) {
        VOXA_IMove(t.mask, t.values);
        return Ok("VOXA_IMove");
      }
      VOXA_CMove(t.mask, t.values);
      return Ok("VOXA_CMove");
    });
  });
}

Command CmdHome(Args& args) {
  const bool no_wait = args.Flag("--no-wait");
  const auto vel = args.Number("--vel", 1, 65535);
  const int64_t value = args.Number("--value", INT32_MIN, INT32_MAX).value_or(0);
  const int64_t timeout = args.Number("--timeout", 1, 86400000).value_or(60000);
  if (!args.Positionals(1, 8)) return Bad(args.Error());
  int mask = 0;
  std::string error;
  if (!ParseAxes(args.rest(), mask, error)) return Bad(UsageError(error, "home"));
  return Do([=](Session& s) {
    return RunMotion(s, "home return", mask, !no_wait, timeout, [&] {
      if (vel) {
        VOXA_Set_HomeSeekVel(mask, static_cast<int>(*vel));
        if (!Ok("VOXA_Set_HomeSeekVel")) return false;
      }
      VOXA_Home(mask, static_cast<int>(value));
      return Ok("VOXA_Home");
    });
  });
}

Command CmdStop(Args& args) {
  const bool now = args.Flag("--now");
  if (!args.Positionals(0, 0)) return Bad(args.Error());
  return Do([=](Session& s) {
    {
      Immediate im;
      VOXA_EStop(now ? 1 : 0);
      if (!Ok("VOXA_EStop")) return kExitFailed;
    }
    // Sent is not received: the board must answer afterwards.
    if (const int rc = BoardAnswers(s, "the stop was sent, but the board may not have received it")) return rc;
    std::printf("%s\n%s", now ? "stopped at once" : "decelerating stop sent", StateText().c_str());
    return kExitOk;
  });
}

// reset, enable and disable: execution control, then the state it left.
Command CmdExecution(Args& args, std::string_view name) {
  if (!args.Positionals(0, 0)) return Bad(args.Error());
  return Do([=](Session& s) {
    {
      Immediate im;
      if (name == "reset") {
        // Motion left in either queue (sent before the alarm or the
        // emergency stop) must not run when execution resumes.
        VOXA_Clr_Queue();
        VOXA_AlarmReset();
        VOXA_Resume();
      } else if (name == "enable") {
        VOXA_Enable_Exe();
        VOXA_Resume();
      } else {
        VOXA_Pause();
      }
      if (!Ok("the execution control")) return kExitFailed;
    }
    if (const int rc = BoardAnswers(s, "the command was sent, but the board may not have received it")) return rc;
    if (name == "reset") std::fputs("host and board queues cleared before the alarm reset\n", stdout);
    std::fputs(StateText().c_str(), stdout);
    if (name == "reset" && VOXA_Is_Alarm()) {
      std::fprintf(stderr, "voxactl: the alarm persists (is a limit input still active?)\n");
      return kExitFailed;
    }
    return kExitOk;
  });
}

// ---------------------------------------------------------------- registers

// One column of `regs`: 12 wide, a blank at least before each value.
std::string WordText(uint32_t v, bool dec) {
  char buf[24];
  if (dec)
    std::snprintf(buf, sizeof buf, " %11d", static_cast<int32_t>(v));
  else
    std::snprintf(buf, sizeof buf, "    %08X", v);
  return buf;
}

Command CmdRegs(Args& args) {
  const bool dec = args.Flag("--dec");
  const bool reported = args.Flag("--reported");
  if (!args.Positionals(0, 0)) return Bad(args.Error());
  return Do([=](Session& s) {
    const auto since = s.Replies();
    if (!Refresh(s, kPolledRegs, 5000) || (reported && !s.WaitReplies(kPolledRegs, since, kAnswerTimeout))) {
      if (s.Interrupted()) return kExitInterrupted;
      if (s.ReceivedFrames() == 0) {
        std::fprintf(stderr, "voxactl: the board did not answer\n");
        return kExitFailed;
      }
      std::fprintf(stderr, "voxactl: the board has not reported every register yet\n");
    }
    const ReportedRegisters rep = s.Reported();
    std::string out = "reg  name       ";
    for (int w = 0; w < 8; ++w) out += "      word " + std::to_string(w);
    out += "\n";
    for (int r = 0; r < 32; ++r) {
      char head[32];
      std::snprintf(head, sizeof head, "%3d  %-11s", r, VOXA_Get_RegName(r));
      out += head;
      for (int w = 0; w < 8; ++w) {
        if (reported) {
          out += (rep.seen[r] & (1u << w)) ? WordText(rep.words[r][w], dec) : "           -";
          continue;
        }
        uint32_t v = 0;
        if (!VOXA_Get_RegWord(r, w, &v)) {
          Ok("VOXA_Get_RegWord");
          return kExitFailed;
        }
        out += WordText(v, dec);
      }
      out += "\n";
    }
    std::fputs(out.c_str(), stdout);
    return kExitOk;
  });
}

Command CmdGet(Args& args) {
  const bool reported = args.Flag("--reported");
  if (!args.Positionals(2, 2)) return Bad(args.Error());
  const auto reg = ParseRegister(args.rest()[0]);
  const auto word = ParseInt32(args.rest()[1]);
  if (!reg) return Bad(UsageError("no register is called '" + args.rest()[0] + "' (0..31 or a name)", "get"));
  if (!word || *word < 0 || *word > 7) return Bad(UsageError("'" + args.rest()[1] + "' is not a word 0..7", "get"));
  return Do([=](Session& s) {
    const auto since = s.Replies();
    if (!Refresh(s, 1u << *reg, 5000) || (reported && !s.WaitReplies(1u << *reg, since, kAnswerTimeout))) {
      if (s.Interrupted()) return kExitInterrupted;
      if (s.ReceivedFrames() == 0) {
        std::fprintf(stderr, "voxactl: the board did not answer\n");
        return kExitFailed;
      }
    }
    uint32_t v = 0;
    // The export judges the numbers, also for --reported.
    if (!VOXA_Get_RegWord(*reg, *word, &v)) {
      Ok("VOXA_Get_RegWord");
      return kExitFailed;
    }
    if (reported) {
      const ReportedRegisters rep = s.Reported();
      if (!(rep.seen[*reg] & (1u << *word))) {
        std::fprintf(stderr, "voxactl: the board has not reported %s word %d\n", VOXA_Get_RegName(*reg), *word);
        return kExitFailed;
      }
      v = rep.words[*reg][*word];
    }
    std::printf("%s[%d] = %d (0x%08X)\n", VOXA_Get_RegName(*reg), *word, static_cast<int32_t>(v), v);
    return kExitOk;
  });
}

Command CmdSet(Args& args) {
  if (!args.Positionals(3, 3)) return Bad(args.Error());
  const auto reg = ParseRegister(args.rest()[0]);
  const auto word = ParseInt32(args.rest()[1]);
  const auto value = ParseInt(args.rest()[2]);
  if (!reg) return Bad(UsageError("no register is called '" + args.rest()[0] + "' (0..31 or a name)", "set"));
  if (kBoardOnlyRegs & (1u << *reg))
    return Bad(
        UsageError(std::string(VOXA_Get_RegName(*reg)) + " is a status register: only the board writes it", "set"));
  if (!word || *word < 0 || *word > 7) return Bad(UsageError("'" + args.rest()[1] + "' is not a word 0..7", "set"));
  if (!value || *value < INT32_MIN || *value > UINT32_MAX)
    return Bad(UsageError("'" + args.rest()[2] + "' is not a 32-bit value", "set"));
  const uint32_t v = static_cast<uint32_t>(*value);
  return Do([=](Session&) {
    {
      Immediate im;
      VOXA_Set_RegWord(*reg, *word, v);
      if (!Ok("VOXA_Set_RegWord")) return kExitFailed;
    }
    std::printf("%s[%d] := %d (0x%08X)\n", VOXA_Get_RegName(*reg), *word, static_cast<int32_t>(v), v);
    return kExitOk;
  });
}

// ---------------------------------------------------------------- configuration file

// The registers `save` asks the board for, and those of them whose read
// replies the library does not take into the register image (settings
// registers): voxactl puts the board's words into the file itself.
constexpr uint32_t kSavedRegs = 0xFFFFFFFFu;
constexpr uint32_t kImageFollowsBoard =
    (1u << VOXA_REG_CHIPSTATUS) | (1u << VOXA_REG_AXISSTATUS) | (1u << VOXA_REG_CURPOS) | (1u << VOXA_REG_ENCPOS) |
    (1u << VOXA_REG_CURVEL) | (1u << VOXA_REG_FEEDBACK) | (1u << VOXA_REG_GIO) | (1u << VOXA_REG_EXTIO) |
    (1u << VOXA_REG_CUSTOM);

std::string RegisterNames(uint32_t regs) {
  std::string names;
  for (int r = 0; r < 32; ++r)
    if (regs & (1u << r)) names += (names.empty() ? "" : ", ") + std::string(VOXA_Get_RegName(r));
  return names;
}

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

Command CmdSave(Args& args) {
  if (!args.Positionals(1, 1)) return Bad(args.Error());
  const std::string path = args.rest()[0];
  return Do([=](Session& s) {
    // Every register as the board holds it now.
    const Ms wait = kAnswerTimeout;
    const auto since = s.Replies();
    // The trace shows the replies a little after the library took them in.
    const bool answered =
        Refresh(s, kSavedRegs, wait.count()) && s.WaitReplies(kSavedRegs & ~kImageFollowsBoard, since, wait);
    if (s.Interrupted()) return kExitInterrupted;
    const ReportedRegisters reported = s.Reported();
    uint32_t missing = answered ? 0 : kSavedRegs;
    for (int r = 0; r < 32; ++r)
      if ((kSavedRegs & ~kImageFollowsBoard & (1u << r)) && reported.seen[r] != 0xFF) missing |= 1u << r;
    if (missing) {
      std::fprintf(stderr, "voxactl: the board did not report %s within %lld ms; nothing was saved\n",
                   missing == kSavedRegs ? "its registers" : RegisterNames(missing).c_str(),
                   static_cast<long long>(wait.count()));
      return kExitFailed;
    }
    // The library writes the file (keeping the other sections of an
    // existing one) beside it; the board's words go in; then it replaces
    // the file, which stays as it was on any failure.
    const std::string temp = path + ".voxactl-" + std::to_string(getpid());
    std::string bytes;
    bool ok = !std::filesystem::exists(path) || (ReadFile(path, bytes) && WriteFile(temp, bytes));
    if (ok && !VOXA_Save_ConfigFile(temp.c_str())) {
      Ok("VOXA_Save_ConfigFile");
      ok = false;
    } else if (ok) {
      ok = ReadFile(temp, bytes) && ReplaceRegisterValues(bytes, kSavedRegs & ~kImageFollowsBoard, reported.words) &&
           WriteFile(temp, bytes);
      std::error_code error;
      if (ok) std::filesystem::rename(temp, path, error);
      if (error) {
        std::fprintf(stderr, "voxactl: cannot replace %s: %s\n", path.c_str(), error.message().c_str());
        ok = false;
      } else if (!ok) {
        std::fprintf(stderr, "voxactl: cannot write %s\n", temp.c_str());
      }
    } else {
      std::fprintf(stderr, "voxactl: cannot write %s beside %s\n", temp.c_str(), path.c_str());
    }
    if (!ok) {
      std::error_code ignored;
      std::filesystem::remove(temp, ignored);
      return kExitFailed;
    }
    std::printf("saved %s\n", path.c_str());
    return kExitOk;
  });
}

// A load writes every word of the 32 registers, one frame each, then sets
// up the PID controllers and restarts execution: the bar follows the words
// to 90 %, the rest by time.
constexpr int kLoadWords = 32 * 8;
constexpr double kAfterWordsSeconds = 0.25;

void DrawBar(int percent) {
  constexpr int kWidth = 40;
  char bar[kWidth + 1];
  const int filled = percent * kWidth / 100;
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = '\0';
  std::fprintf(stderr, "\rloading [%s] %3d%%", bar, percent);
  std::fflush(stderr);
}

Command CmdLoad(Args& args) {
  if (!args.Positionals(1, 1)) return Bad(args.Error());
  const std::string path = args.rest()[0];
  return Do([=](Session& s) {
    // The bar on a terminal only; elsewhere one line at the end.
    const bool tty = isatty(STDERR_FILENO) != 0;
    std::atomic<bool> done{false};
    const uint64_t base = s.ConfigWrites();
    std::thread bar;
    if (tty) bar = std::thread([&] {
      uint64_t seen = base;
      int shown = -1;
      std::optional<Clock::time_point> words_done;
      while (!done.load()) {
        seen = s.WaitConfigWrites(seen, done, Clock::now() + Ms(50));
        const int words = static_cast<int>(std::min<uint64_t>(seen - base, kLoadWords));
        int percent = words * 90 / kLoadWords;
        if (words == kLoadWords) {
          if (!words_done) words_done = Clock::now();
          const double t = std::chrono::duration<double>(Clock::now() - *words_done).count();
          percent = 90 + static_cast<int>(std::min(t / kAfterWordsSeconds, 0.99) * 10);
        }
        if (percent != shown && !done.load()) DrawBar(shown = percent);
      }
    });
    const int ok = VOXA_Load_ConfigFile(path.c_str());
    const bool failed = VOXA_Is_Err() != 0;
    done.store(true);
    s.WakeAll();
    if (tty) {
      bar.join();
      if (ok) DrawBar(100);
      std::fputs("\n", stderr);
    }
    if (!ok) {
      if (failed) {
        Ok("VOXA_Load_ConfigFile");
      } else {
        std::fprintf(stderr, "voxactl: %s does not exist\n", path.c_str());
      }
      return kExitFailed;
    }
    std::printf("loaded %s\n", path.c_str());
    return kExitOk;
  });
}

// ---------------------------------------------------------------- trace

Command CmdTrace(Args& args, Clock::time_point start) {
  const auto duration = args.Number("--duration", 1, 86400000);
  const auto count = args.Number("--count", 1, INT64_MAX);
  const bool no_polls = args.Flag("--no-polls");
  if (!args.Positionals(0, 0)) return Bad(args.Error());
  return Do([=](Session& s) {
    if (isatty(STDERR_FILENO))
      std::fprintf(stderr, "voxactl: the frames of this connection only, not those of other programs\n");
    // Frames since the open are already in; `trace` shows them too.
    const auto end = duration ? Clock::now() + Ms(*duration) : Clock::time_point::max();
    int64_t printed = 0;
    std::deque<TracedFrame> frames;
    while (!s.Interrupted() && Clock::now() < end && (!count || printed < *count)) {
      const uint64_t dropped = s.TakeFrames(frames, std::min(end, Clock::now() + Ms(1000)));
      if (dropped) std::printf("... %" PRIu64 " frames not shown (output too slow)\n", dropped);
      for (const TracedFrame& f : frames) {
        if (count && printed >= *count) break;
        if (no_polls && IsPollTraffic(f.direction, f.bytes.data(), static_cast<int>(f.bytes.size()))) continue;
        const double t = std::chrono::duration<double>(f.time - start).count();
        const int n = static_cast<int>(f.bytes.size());
        std::printf("%11.6f %s %-48s %s\n", t, f.direction == kSent ? "->" : "<-",
                    DescribeFrame(f.direction, f.bytes.data(), n).c_str(), HexBytes(f.bytes.data(), n).c_str());
        ++printed;
      }
      frames.clear();
      std::fflush(stdout);
    }
    return kExitOk;
  });
}

// ---------------------------------------------------------------- main

int Run(int argc, char** argv) {
  std::string tcp, serial;
  int baud = 115200;
  bool help = false;
  const char* command = nullptr;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> std::optional<std::string> {
      if (a == name) {
        if (i + 1 < argc) return std::string(argv[++i]);
        return std::nullopt;
      }
      return a.substr(std::strlen(name) + 1);
    };
    if (a == "--tcp" || a.rfind("--tcp=", 0) == 0) {
      auto v = value("--tcp");
      if (!v) return UsageError("--tcp needs ADDR[:PORT]");
      tcp = *v;
    } else if (a == "--serial" || a.rfind("--serial=", 0) == 0) {
      auto v = value("--serial");
      if (!v) return UsageError("--serial needs a device");
      serial = *v;
    } else if (a == "--baud" || a.rfind("--baud=", 0) == 0) {
      auto v = value("--baud");
      auto n = v ? ParseInt32(*v) : std::nullopt;
      if (!n || *n <= 0) return UsageError("--baud needs a positive number");
      baud = *n;
    } else if (a == "-h" || a == "--help") {
      help = true;
    } else if (a == "--version" && !command) {
      char library[64] = "";
      VOXA_Get_DllVer(library, static_cast<int>(sizeof library));
      std::printf("voxactl %s (libvoxa %s)\n", VOXA_TOOLS_VERSION, library);
      return kExitOk;
#ifndef VOXACTL_NO_PANEL
    } else if (!command && a == "panel") {
      return RunPanel(argc, argv);  // parses the whole command line itself
#endif
    } else if (!command) {
      if (!FindCommand(a)) return UsageError("unknown command '" + a + "'");
      command = argv[i];
    } else {
      rest.push_back(a);
    }
  }
  if (help) {
    if (command) {
      const CommandHelp* c = FindCommand(command);
      std::printf("usage: voxactl (--tcp ADDR[:PORT] | --serial DEV [--baud N]) %s\n\n%s\n", c->usage, c->text);
    } else {
      PrintUsage(stdout);
    }
    return kExitOk;
  }
  if (!command) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  if (std::string_view(command) == "plot") return RunPlot(rest);
  if (tcp.empty() == serial.empty()) return UsageError("give one of --tcp ADDR[:PORT] and --serial DEV");
  TcpAddress address;
  std::string error;
  if (!tcp.empty() && !ParseTcpAddress(tcp, address, error)) return UsageError(error);

  const Clock::time_point start = Clock::now();
  Args args(command, std::move(rest));
  const std::string_view cmd = command;
  Command c;
  if (cmd == "status")
    c = CmdStatus(args);
  else if (cmd == "monitor")
    c = CmdMonitor(args);
  else if (cmd == "move")
    c = CmdMove(args, false);
  else if (cmd == "line")
    c = CmdMove(args, true);
  else if (cmd == "home")
    c = CmdHome(args);
  else if (cmd == "stop")
    c = CmdStop(args);
  else if (cmd == "reset" || cmd == "enable" || cmd == "disable")
    c = CmdExecution(args, cmd);
  else if (cmd == "regs")
    c = CmdRegs(args);
  else if (cmd == "get")
    c = CmdGet(args);
  else if (cmd == "set")
    c = CmdSet(args);
  else if (cmd == "save")
    c = CmdSave(args);
  else if (cmd == "load")
    c = CmdLoad(args);
  else if (cmd == "record")
    c = (c.run = ParseRecord(args.rest())) ? c : Bad(kExitUsage);
  else
    c = CmdTrace(args, start);
  if (!c.run) return c.rc;

  Session session;
  SignalWatch signals(session);
  if (cmd == "trace") session.StartCapture(false);
  if (!(tcp.empty() ? session.OpenSerial(serial, baud) : session.OpenTcp(address))) return kExitFailed;
  // The open returns before the link is up; what is sent before the first
  // heartbeat may be lost. A board that never answers is each command's to
  // report.
  session.WaitHeartbeat(Ms(1000));
  const int rc = c.run(session);
  std::fflush(stdout);
  session.Close();
  return rc;
}

}  // namespace
}  // namespace voxactl

int main(int argc, char** argv) { return voxactl::Run(argc, argv); }
