// The PID controllers: command words in CUSTOM word 0, setup records in
// CUSTOM words 0..7 and the setup records each controller object keeps.
// Everything is sent by the command mode with the register-write tag; run
// inside an immediate-mode bracket to send at once.
#pragma once

#include <cstdint>

#include "families/io/io_state.h"
#include "families/shapes.h"

namespace voxa::family::io {

// Command codes (CUSTOM word 0 bits 0-7).
enum PidCode : uint8_t {
  kPidOff = 0,
  kPidReset = 1,
  kPidRun = 2,
  kPidSetupData = 4,
  kPidSetValue = 5,
  kPidReportSetup = 6,
  kPidAnnounce = 8,
};

constexpr int kPidSetupBytes = 30;

// CUSTOM word 0 bits 8-15 := ch, bits 0-7 := code (bits 16-31 kept), then a
// CUSTOM write of word 0. ch 0..3, else -50 (ArgumentError) with nothing
// changed or sent.
int PidCommand(Board& c, int ch, uint8_t code);
// The same with bits 16-31 := parameter.
int PidCommandWith(Board& c, int ch, uint8_t code, uint16_t parameter);
inline int ResetPid(Board& c, int ch) { return PidCommand(c, ch, kPidReset); }

// The setup step: stores the record as controller ch's stored setup, sends
// the setup announcement, then CUSTOM words 0..7 := the record with bytes 0
// and 1 replaced by code 4 and ch, one CUSTOM write of all eight words.
// ch 0..3, else -50 with nothing stored or sent.
int SetupPid(Board& c, int ch, const PidSetupRecord& record);

// The stored setup record of controller ch (zero for ch outside 0..3).
inline PidSetupRecord StoredPidSetup(Board& c, int ch) { return c.io_state().StoredPid(ch); }

// Takes CUSTOM words 0..7 from the register image as controller ch's stored
// setup record and returns it (after the board was asked to report it).
PidSetupRecord ReadPidSetup(Board& c, int ch);

// The 30 setup bytes of the application's structure <-> record bytes 2..31.
// Byte 0 of a built record is 0, byte 1 is 1.
PidSetupRecord RecordFromSetup(const uint8_t setup[kPidSetupBytes]);
void SetupFromRecord(const PidSetupRecord& record, uint8_t setup[kPidSetupBytes]);

}  // namespace voxa::family::io
