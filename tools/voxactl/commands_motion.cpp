// The motion commands (`move`, `line`, `home`) and the execution control
// (`stop`, `reset`, `enable`, `disable`). Nothing moves while the board
// reports an alarm or an emergency stop, or does not answer.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string_view>

#include "commands.h"
#include "voxa/voxa.h"

namespace voxactl {
namespace {

// The command ID voxactl tags its motion commands with.
constexpr int kMotionId = 0xA0;

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
  // A paused or disabled board takes the command and holds it.
  const bool held = VOXA_Is_Pause() || !VOXA_Is_EnableExe();
  const std::string held_state = StateText(State());
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
  if (held)
    std::fprintf(stderr, "voxactl: the board is %s: the %s waits until 'voxactl enable' resumes it\n",
                 held_state.c_str(), what);
  if (!wait) {
    std::printf(held ? "%s sent, waiting on the board\n" : "%s started\n", what);
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
      std::fprintf(stderr, "voxactl: timeout: the board did not report the %s complete within %" PRId64 " ms; a stop and a "
                   "queue clear were sent, but the board does not answer: it may still be moving\n", what, timeout);
    else
      std::fprintf(stderr, "voxactl: timeout: the board did not report the %s complete within %" PRId64 " ms; the axes "
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
    std::fprintf(stderr, "voxactl: the %s stopped before its end at%s (host stop)\n", what, where.c_str());
    return kExitFailed;
  }
  if (VOXA_Is_Alarm()) {
    // Why: an emergency stop, a limit of one of the axes, or another alarm.
    bool limit = false;
    for (int a = 0; a < 8; ++a)
      if (mask & (1 << a))
        limit = limit || VOXA_Is_LimitL(1 << a) || VOXA_Is_LimitH(1 << a) || VOXA_Is_SoftLimitL(1 << a) ||
                VOXA_Is_SoftLimitH(1 << a);
    std::fprintf(stderr, "voxactl: the %s stopped before its end at%s (%s; alarm code 0x%08X)\n", what,
                 where.c_str(), VOXA_Is_EStop() ? "emergency stop" : limit ? "limit" : "alarm",
                 static_cast<unsigned>(VOXA_Get_Alarm()));
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
    std::printf("%s\n%s", now ? "stopped at once" : "decelerating stop sent", StateLines().c_str());
    return kExitOk;
  });
}

// reset, enable and disable: execution control, then the state it left.
Command CmdExecution(Args& args) {
  const std::string_view name = args.command();
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
    std::fputs(StateLines().c_str(), stdout);
    if (name == "reset" && VOXA_Is_Alarm()) {
      std::fprintf(stderr, "voxactl: the alarm persists (is a limit input still active?)\n");
      return kExitFailed;
    }
    return kExitOk;
  });
}

Command CmdMoveEach(Args& args) { return CmdMove(args, false); }
Command CmdLine(Args& args) { return CmdMove(args, true); }

}  // namespace

std::span<const CommandSpec> MotionCommands() {
  static constexpr CommandSpec kCommands[] = {
      {"move", "move [--relative] [--vel V] [--acc A] [--timeout MS] [--no-wait] AXIS=POS...",
       "Moves each axis on its own to POS (absolute), or by POS with --relative, and waits for\n"
       "the board to report the move complete (default timeout 60000 ms). --vel sets the axes'\n"
       "drive velocity, --acc their acceleration and deceleration. Waiting switches the board's\n"
       "complete state packets on. Nothing is sent while the board does not answer or reports\n"
       "an alarm or an emergency stop. A wait that ends without the completion (timeout,\n"
       "Ctrl-C, the board falling silent) stops the axes and clears the board's and the\n"
       "host's queues. A completion that follows a stop from this host is reported as a stop\n"
       "before the end, with the positions, and fails.",
       &CmdMoveEach},
      {"line", "line [--vel V] [--acc A] [--timeout MS] [--no-wait] AXIS=POS...",
       "Linear interpolation of the axes to the absolute positions; otherwise as move.",
       &CmdLine},
      {"home", "home [--vel V] [--value N] [--timeout MS] [--no-wait] AXIS...",
       "Home return of the axes; their position becomes N (default 0) at home. --vel sets the\n"
       "home seek velocity. Otherwise as move.",
       &CmdHome},
      {"stop", "stop [--now]",
       "Stops every axis: decelerating, or at once with --now (an emergency stop: 'reset' ends\n"
       "it). The board's queue is emptied. Fails when the board does not answer afterwards.",
       &CmdStop},
      {"reset", "reset",
       "Clears the host's and the board's queues, resets the board's alarm (and emergency stop),\n"
       "then resumes execution; prints the state left. Motion queued before the reset never runs.",
       &CmdExecution},
      {"enable", "enable", "Enables execution on the board and resumes it; prints the state left.",
       &CmdExecution},
      {"disable", "disable",
       "Holds execution: the board pauses (it stays enabled, so the state reads 'enabled, paused'):\n"
       "a running move decelerates and holds, queued commands wait until 'enable' or 'reset'.\n"
       "Prints the state left.",
       &CmdExecution},
  };
  return kCommands;
}

}  // namespace voxactl
