// A board that restarted while its link was down comes back with its power-on
// settings, while the register image still holds the host's. After each
// reconnection the answers to the library's polls are watched: a velocity or
// home register that the host set and that the board reports all zero means
// the board restarted. The application hears of it through the link handler
// and, when it asked for it, the library writes the host's settings back.
#include "controller/controller.h"

#include <cstdio>

namespace voxa {
namespace {

// Settings that a board powers up with at zero and an application sets
// before it moves anything.
bool Watched(int r) {
  return r == STARTVEL || r == DRIVEVEL || r == ACC || r == DEC || r == ACC2 || r == DEC2 || r == HOMERETURN;
}

// The settings registers written back to a restarted board: what the host
// set, not the board's status, positions, command operands or PID state.
constexpr int kRestored[] = {CHIPSET, AXISSET,  AXISAUXSET, GEARRATIO, PULSEOFFSET, SLIMITL,    SLIMITH, VELAUXSET,
                             STARTVEL, DRIVEVEL, ACC,        DEC,       ACC2,        DEC2,       HOMERETURN, COMPARE,
                             SERVOIO};

}  // namespace

void Controller::WatchForRestart(int r) {
  if (!restart_watch_.load() || !Watched(r)) return;
  bool host_set = false;
  bool board_zero = true;
  {
    platform::Locked g(mirror_.Lock());
    for (int i = 0; i < kWords; ++i) {
      if (mirror_.Image()[r * kWords + i] != 0) host_set = true;
      if (mirror_.Received()[r * kWords + i] != 0) board_zero = false;
    }
  }
  if (!host_set) return;  // this register tells nothing either way
  restart_watch_.store(0);  // one verdict per reconnection
  if (!board_zero) return;
  restarts_.fetch_add(1);
  dispatch::Link(board_index_, VOXA_LINK_RESTARTED, VOXA_LINK_REASON_RESTARTED, 0);
  dispatch::Log(board_index_, "the board restarted: it reports its power-on settings, not the host's\n");
  // The timer thread writes the settings back: not from the receive path.
  if (restore_after_restart_.load()) restore_pending_.store(1);
}

void Controller::RestoreSettings() {
  int sent = 0;
  for (int r : kRestored) sent += SendRegWrite(1, r, 0xFF, kWidth4, kTagConfig);
  const int all = static_cast<int>(sizeof kRestored / sizeof kRestored[0]);
  dispatch::Link(board_index_, VOXA_LINK_RESTORED, VOXA_LINK_REASON_RESTARTED, all - sent);
  char text[120];
  std::snprintf(text, sizeof text, "the host's settings were written back to the restarted board (%d of %d registers)\n",
                sent, all);
  dispatch::Log(board_index_, text);
}

}  // namespace voxa
