#include "state/registers.h"

namespace voxa {
namespace {

const char16_t* const kDisplayNames[kRegisters] = {
    u"[R00]: CHIPSET",   u"[R01]: CHIPSTATUS", u"[R02]: AXISSET",     u"[R03]: AXISSTATUS",
    u"[R04]: AXISAUXSET", u"[R05]: GEARRATIO", u"[R06]: CURPOS",      u"[R07]: CAL0",
    u"[R08]: CAL1",      u"[R09]: CAL2",       u"[R10]: CAL3",        u"[R11]: PULSEOFFSET",
    u"[R12]: ENCPOS",    u"[R13]: SLIMITL",    u"[R14]: SLIMITH",     u"[R15]: VELAUXSET",
    u"[R16]: STARTVEL",  u"[R17]: DRIVEVEL",   u"[R18]: CURVEL",      u"[R19]: ACC",
    u"[R20]: DEC",       u"[R21]: ACC2",       u"[R22]: DEC2",        u"[R23]: FEEDBACK",
    u"[R24]: HOMERETURN", u"[R25]: COMPARE",   u"[R26]: RESERVED",    u"[R27]: PROGRAM",
    u"[R28]: SERVOIO",   u"[R29]: GIO",        u"[R30]: EXTIO",       u"[R31]: CUSTOM",
};

const char* const kNames[kRegisters] = {
    "CHIPSET", "CHIPSTATUS", "AXISSET", "AXISSTATUS", "AXISAUXSET", "GEARRATIO", "CURPOS", "CAL0",
    "CAL1", "CAL2", "CAL3", "PULSEOFFSET", "ENCPOS", "SLIMITL", "SLIMITH", "VELAUXSET",
    "STARTVEL", "DRIVEVEL", "CURVEL", "ACC", "DEC", "ACC2", "DEC2", "FEEDBACK",
    "HOMERETURN", "COMPARE", "RESERVED", "PROGRAM", "SERVOIO", "GIO", "EXTIO", "CUSTOM",
};

}  // namespace

const char16_t* RegisterDisplayName(int r) { return r >= 0 && r < kRegisters ? kDisplayNames[r] : nullptr; }
const char* RegisterName(int r) { return r >= 0 && r < kRegisters ? kNames[r] : nullptr; }

}  // namespace voxa
