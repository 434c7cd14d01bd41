// Host-side state of the I/O families kept in each controller.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace voxa {

constexpr int kPidControllers = 4;

// A PID controller's setup record: the eight CUSTOM words that carry it.
// Byte 0 is the command byte and byte 1 the controller byte on the wire;
// bytes 2..31 hold the 30 setup bytes the application passes.
struct PidSetupRecord {
  uint32_t words[8] = {};
};

struct IoState {
  // The stored setup record of PID controller ch (0..3): zero at load, set
  // by a setup, by reading the board's setup back, and by a configuration
  // load; read by a configuration save. Out-of-range ch reads zero and
  // stores nothing.
  PidSetupRecord StoredPid(int ch) {
    platform::Locked hold(lock_);
    return ValidPid(ch) ? pid_[ch] : PidSetupRecord{};
  }
  void StorePid(int ch, const PidSetupRecord& record) {
    platform::Locked hold(lock_);
    if (ValidPid(ch)) pid_[ch] = record;
  }
  static bool ValidPid(int ch) { return ch >= 0 && ch < kPidControllers; }

 private:
  platform::CriticalSection lock_;
  PidSetupRecord pid_[kPidControllers];
};

}  // namespace voxa
