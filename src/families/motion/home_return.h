// Home return settings per axis (AXISSET, HOMERETURN), the per-axis limit
// switch and back-search choices in CHIPSET word 4, and the home sensor and
// home return status the board reports in AXISSTATUS.
#pragma once

#include "families/shapes.h"

namespace voxa::family::motion {

// Home mode 0..2; code 3 reads back as 0.
inline constexpr AxisField kHomeModeField{AXISSET, 0x30000000u, 28};
int SetHomeMode(Board& c, int axes, int mode);
int GetHomeMode(Board& c, int axes);

inline constexpr AxisBit kHomeDir{AXISSET, 1u << 15, Flag::ZeroOrOne};
inline constexpr AxisBit kHomeSensorLevel{AXISSET, 1u << 14, Flag::ZeroOrOne};
inline constexpr AxisBit kHomeServoReset{AXISSET, 1u << 22};
inline constexpr AxisBit kHomeDevAlarm{AXISSET, 1u << 23};
inline constexpr AxisBit kHomeReturnAutoZero{AXISSET, 1u << 30};
inline constexpr AxisBit kHomeSensorAutoZero{AXISSET, 1u << 31};

inline constexpr AxisField kHomeSeekVel{HOMERETURN, 0xFFFF, 0};
inline constexpr AxisField kHomeSeekOffset{HOMERETURN, 0xFFFF0000u, 16};

// The allowed home deviation: 2 to the power of the code in bits 24-26,
// times ten when bit 27 is set. A requested deviation is stored as the
// largest representable one not above it (a negative one as 2); 0 switches
// the deviation alarm off and keeps the deviation.
int SetHomeDev(Board& c, int axes, int32_t deviation);
int GetHomeDev(Board& c, int axes);

inline constexpr BoardAxisBits kHomeLimitAxis{CHIPSET, 4, 8, Flag::LowByte};
inline constexpr BoardAxisBits kHomeBackSearchAxis{CHIPSET, 4, 16, Flag::LowByte};

inline constexpr AxisBit kHomeSensor{AXISSTATUS, 1u << 13};
inline constexpr AxisBit kHomeReturnExe{AXISSTATUS, 1u << 14};
inline constexpr AxisBit kHomeReturnAlarm{AXISSTATUS, 1u << 15};

}  // namespace voxa::family::motion
