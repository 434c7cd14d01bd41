// Register numbers and the register name table.
#pragma once

#include <cstdint>

namespace voxa {

enum Reg : int {
  CHIPSET = 0, CHIPSTATUS = 1, AXISSET = 2, AXISSTATUS = 3, AXISAUXSET = 4, GEARRATIO = 5,
  CURPOS = 6, CAL0 = 7, CAL1 = 8, CAL2 = 9, CAL3 = 10, PULSEOFFSET = 11, ENCPOS = 12,
  SLIMITL = 13, SLIMITH = 14, VELAUXSET = 15, STARTVEL = 16, DRIVEVEL = 17, CURVEL = 18,
  ACC = 19, DEC = 20, ACC2 = 21, DEC2 = 22, FEEDBACK = 23, HOMERETURN = 24, COMPARE = 25,
  RESERVED = 26, PROGRAM = 27, SERVOIO = 28, GIO = 29, EXTIO = 30, CUSTOM = 31,
};

constexpr int kRegisters = 32;
constexpr int kWords = 8;
constexpr int kImageWords = kRegisters * kWords;

// "[R00]: CHIPSET" ... as 16-bit text; nullptr outside 0..31.
const char16_t* RegisterDisplayName(int r);
// "CHIPSET" ... as 8-bit text; nullptr outside 0..31.
const char* RegisterName(int r);

}  // namespace voxa
