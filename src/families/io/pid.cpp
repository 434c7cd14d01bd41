#include "families/io/pid.h"

#include "families/io/io.h"

namespace voxa::family::io {
namespace {

constexpr uint32_t kPidReportWaitMs = 100;

uint32_t CommandWord(uint16_t parameter, int ch, uint8_t code) {
  return static_cast<uint32_t>(parameter) << 16 | static_cast<uint32_t>(ch) << 8 | code;
}

}  // namespace

int PidCommand(Board& c, int ch, uint8_t code) {
  Require(IoState::ValidPid(ch));
  c.SetRegField(CUSTOM, 0, 0xFFFF, CommandWord(0, ch, code));
  c.WriteReg(CUSTOM, 0x01);
  return 1;
}

int PidCommandWith(Board& c, int ch, uint8_t code, uint16_t parameter) {
  Require(IoState::ValidPid(ch));
  c.SetRegWord(CUSTOM, 0, CommandWord(parameter, ch, code));
  c.WriteReg(CUSTOM, 0x01);
  return 1;
}

int SetupPid(Board& c, int ch, const PidSetupRecord& record) {
  Require(IoState::ValidPid(ch));
  c.io_state().StorePid(ch, record);
  PidCommandWith(c, ch, kPidAnnounce, 1);
  {
    // All eight words at once, so no reader sees half a record.
    platform::Locked hold(c.StateLock());
    for (int k = 0; k < 8; ++k) c.SetRegWord(CUSTOM, k, record.words[k]);
    c.SetRegField(CUSTOM, 0, 0xFFFF, CommandWord(0, ch, kPidSetupData));
  }
  c.WriteReg(CUSTOM, 0xFF);
  return 1;
}

PidSetupRecord ReadPidSetup(Board& c, int ch) {
  Require(IoState::ValidPid(ch));
  PidSetupRecord record;
  {
    platform::Locked hold(c.StateLock());
    for (int k = 0; k < 8; ++k) record.words[k] = c.GetRegWord(CUSTOM, k);
  }
  c.io_state().StorePid(ch, record);
  return record;
}

int GetPidSetup(Board& c, int ch, uint8_t* setup) {
  Require(IoState::ValidPid(ch) && setup != nullptr);
  PidCommand(c, ch, kPidReportSetup);
  // A fixed wait for the board's report; no lock is held, so the receive
  // path meanwhile updates the register image. A window thread keeps
  // dispatching its messages through it.
  platform::SleepDispatching(kPidReportWaitMs);
  SetupFromRecord(ReadPidSetup(c, ch), setup);
  return 1;
}

uint32_t IsPidOn(Board& c, int ch) {
  Require(IoState::ValidPid(ch));
  return c.TestRegBits(CHIPSTATUS, 6, 1u << ch) ? 1 : 0;
}

PidSetupRecord RecordFromSetup(const uint8_t setup[kPidSetupBytes]) {
  PidSetupRecord r;
  r.words[0] = 1u << 8;  // byte 0 stays 0, byte 1 = 1
  for (int k = 0; k < kPidSetupBytes; ++k) {
    const int at = k + 2;
    r.words[at / 4] |= static_cast<uint32_t>(setup[k]) << (8 * (at % 4));
  }
  return r;
}

void SetupFromRecord(const PidSetupRecord& record, uint8_t setup[kPidSetupBytes]) {
  for (int k = 0; k < kPidSetupBytes; ++k) {
    const int at = k + 2;
    setup[k] = static_cast<uint8_t>(record.words[at / 4] >> (8 * (at % 4)));
  }
}

}  // namespace voxa::family::io
