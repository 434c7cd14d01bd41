// Bad input at the C interface: the whole export table called with null
// pointers and with integers at and beyond every edge (negative counts and
// indices, masks with high bits, INT_MIN, INT_MAX) on an open board. A null
// pointer the other arguments make the export read is rejected with -50 and
// nothing is sent (the family tests cover nulls that are not read); no integer makes an
// export read or write outside its data, which the suite's AddressSanitizer
// build checks (every buffer handed over is a heap block of exactly the size
// the export may use).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "api/board_table.h"
#include "support/library_exports.h"
#include "support/peer.h"
#include "voxa/voxa.h"

namespace {

// Every export of the library. The test below checks this list against the
// public headers and the shared library's dynamic symbols, so an export
// added without a place here fails the suite.
#define VOXA_EXPORTS(X) \
  /* voxa.h */ \
  X(VOXA_Set_BeepHandler) X(VOXA_Set_MessageHandler) X(VOXA_Set_ErrorReportHandler) X(VOXA_Set_TraceHandler) \
  X(VOXA_Set_LogHandler) \
  X(VOXA_Get_ErrText) X(VOXA_Set_BoardID) X(VOXA_Get_BoardID) X(VOXA_Is_Err) X(VOXA_Get_LastErr) \
  X(VOXA_Enable_ErrBeep) X(VOXA_Is_Link) X(VOXA_Get_DllVer) X(VOXA_Get_wDllVer) X(VOXA_Get_EngineVer) \
  X(VOXA_Open_Comm) X(VOXA_Open_CommDevice) X(VOXA_Open_Tcp) X(VOXA_Close) X(VOXA_Change_Comm_Baudrate) \
  X(VOXA_Set_BoardMessageHandler) X(VOXA_Set_StateHandler) X(VOXA_Set_LinkHandler) X(VOXA_Get_StateDrops) \
  X(VOXA_Get_RegAge) X(VOXA_Get_OpenError) X(VOXA_Get_InDoubtFrames) \
  X(VOXA_Enable_RestoreAfterRestart) X(VOXA_Is_RestoreAfterRestart) \
  X(VOXA_Set_ThreadBoardID) \
  /* voxa_system.h */ \
  X(VOXA_Set_InterruptMode) X(VOXA_Get_InterruptMode) X(VOXA_Set_ExtEmgStopMode) X(VOXA_Get_ExtEmgStopMode) \
  X(VOXA_Enable_IEndComp) X(VOXA_Is_IEndComp) X(VOXA_Enable_StepExe) X(VOXA_Is_StepExe) \
  X(VOXA_Set_MainBaudrate) X(VOXA_Get_MainBaudrate) X(VOXA_Set_AuxBaudrate) X(VOXA_Get_AuxBaudrate) \
  X(VOXA_Enable_AuxPortStateTimer) X(VOXA_Enable_AuxPortStatePacket) X(VOXA_Enable_AuxPortAllCommand) \
  X(VOXA_Enable_RestrictedImCmd) X(VOXA_Is_RestrictedImCmd) X(VOXA_Set_VelMode3StartMode) \
  X(VOXA_Get_VelMode3StartMode) X(VOXA_MainLinkAlarmOn) X(VOXA_Is_MainLinkAlarmOn) X(VOXA_Set_InportMode) \
  X(VOXA_Get_InportMode) X(VOXA_Set_OutportMode) X(VOXA_Get_OutportMode) X(VOXA_Set_GIOMap) X(VOXA_Get_GIOMap) \
  X(VOXA_Set_ImStopDec) X(VOXA_Get_ImStopDec) X(VOXA_Reset) X(VOXA_Enable_Exe) X(VOXA_AlarmReset) \
  X(VOXA_Resume) X(VOXA_Update_Baudrate) X(VOXA_Pause) X(VOXA_Cancel) X(VOXA_ImStop) X(VOXA_DecStop) \
  X(VOXA_EStop) X(VOXA_Enable_CExe) X(VOXA_Is_CExe) X(VOXA_Delay) X(VOXA_XDelay) X(VOXA_Is_EStop) \
  X(VOXA_Is_Pause) X(VOXA_Is_Alarm) X(VOXA_Is_EmgExe) X(VOXA_Is_EnableExe) \
  /* voxa_queue.h */ \
  X(VOXA_Enter_QueueCmd) X(VOXA_Leave_QueueCmd) X(VOXA_Enter_ImCmd) X(VOXA_Leave_ImCmd) \
  X(VOXA_Reallocate_SoftQueue) X(VOXA_Get_SoftQueueSize) X(VOXA_Get_SoftQueueLeftCmd) \
  X(VOXA_Get_EngineQueueLeftCmd) X(VOXA_Get_CmdQueueLeftCmd) X(VOXA_Clr_Queue) X(VOXA_Set_CmdID) \
  X(VOXA_Get_CmdID) X(VOXA_Get_ExeCmdID) X(VOXA_Get_ReadyCmdID) X(VOXA_Set_ProcCmdNo) X(VOXA_Get_ProcCmdNo) \
  X(VOXA_Set_BusySize) X(VOXA_Get_BusySize) X(VOXA_Sync) X(VOXA_Is_Sync) X(VOXA_Wait) X(VOXA_WaitMotion) \
  X(VOXA_Sleep) X(VOXA_Enable_Notify_Complete) X(VOXA_Notify_Complete) X(VOXA_Register_Complete_Message) \
  X(VOXA_Unregister_Complete_Message) X(VOXA_Get_CmdState) X(VOXA_Is_PreparedCmd) X(VOXA_Is_Busy) \
  X(VOXA_Is_Complete) X(VOXA_Is_OnMotion) X(VOXA_Is_CompleteAxis) X(VOXA_Get_ScanTime) X(VOXA_Get_CurCmdPulse) \
  X(VOXA_Get_CmdPulseMax) X(VOXA_Get_CurDelayTime) X(VOXA_Refresh) X(VOXA_Get_WaitReason) \
  X(VOXA_Get_CompleteReason) \
  /* voxa_state.h */ \
  X(VOXA_Enable_BusyStatePacket) X(VOXA_Enable_CompleteStatePacket) X(VOXA_Enable_InterruptStatePacket) \
  X(VOXA_Enable_EventStatePacket) X(VOXA_Is_BusyStatePacket) X(VOXA_Is_CompleteStatePacket) \
  X(VOXA_Is_InterruptStatePacket) X(VOXA_Is_EventStatePacket) X(VOXA_Set_BusyStatePacketCount) \
  X(VOXA_Set_CompleteStatePacketCount) X(VOXA_Set_InterruptStatePacketCount) X(VOXA_Set_EventStatePacketCount) \
  X(VOXA_Get_BusyStatePacketCount) X(VOXA_Get_CompleteStatePacketCount) X(VOXA_Get_InterruptStatePacketCount) \
  X(VOXA_Get_EventStatePacketCount) X(VOXA_Set_StateTimer) X(VOXA_Get_StateTimer) X(VOXA_Clr_StateTimer) \
  X(VOXA_Is_StateTimer) X(VOXA_Register_Comparator_Message) X(VOXA_Unregister_Comparator_Message) \
  /* voxa_motion.h */ \
  X(VOXA_Set_PulseMode) X(VOXA_Get_PulseMode) X(VOXA_Set_PulseLevel) X(VOXA_Get_PulseLevel) \
  X(VOXA_Set_DirLevel) X(VOXA_Get_DirLevel) X(VOXA_Set_CwLevel) X(VOXA_Get_CwLevel) X(VOXA_Set_CcwLevel) \
  X(VOXA_Get_CcwLevel) X(VOXA_Set_AxisPulseWidth) X(VOXA_Get_AxisPulseWidth) X(VOXA_Enable_LowerLimit) \
  X(VOXA_Enable_UpperLimit) X(VOXA_IsEnable_LowerLimit) X(VOXA_IsEnable_UpperLimit) X(VOXA_Set_LowerLimitLevel) \
  X(VOXA_Set_UpperLimitLevel) X(VOXA_Get_LowerLimitLevel) X(VOXA_Get_UpperLimitLevel) \
  X(VOXA_Enable_SoftLowerLimit) X(VOXA_Enable_SoftUpperLimit) X(VOXA_IsEnable_SoftLowerLimit) \
  X(VOXA_IsEnable_SoftUpperLimit) X(VOXA_Set_SoftLowerLimit) X(VOXA_Set_SoftUpperLimit) \
  X(VOXA_Get_SoftLowerLimit) X(VOXA_Get_SoftUpperLimit) X(VOXA_Set_SoftLimitMode) X(VOXA_Get_SoftLimitMode) \
  X(VOXA_Is_LimitL) X(VOXA_Is_LimitH) X(VOXA_Is_SoftLimitL) X(VOXA_Is_SoftLimitH) X(VOXA_Is_CW) X(VOXA_Is_CCW) \
  X(VOXA_Is_AlarmAxis) X(VOXA_Is_PositionAlarm) X(VOXA_Set_VelMode) X(VOXA_Get_VelMode) X(VOXA_Set_VelModeAxis) \
  X(VOXA_Get_VelModeAxis) X(VOXA_Get_VelState) X(VOXA_Get_VelStateAxis) X(VOXA_Set_StartVel) \
  X(VOXA_Get_StartVel) X(VOXA_Set_StartVelAxis) X(VOXA_Get_StartVelAxis) X(VOXA_Set_DriveVel) \
  X(VOXA_Get_DriveVel) X(VOXA_Set_DriveVelAxis) X(VOXA_Get_DriveVelAxis) X(VOXA_Get_CurVel) \
  X(VOXA_Get_CurVelAxis) X(VOXA_Set_Acc) X(VOXA_Get_Acc) X(VOXA_Set_AccAxis) X(VOXA_Get_AccAxis) \
  X(VOXA_Set_Dec) X(VOXA_Get_Dec) X(VOXA_Set_DecAxis) X(VOXA_Get_DecAxis) X(VOXA_Set_Acc2) X(VOXA_Get_Acc2) \
  X(VOXA_Set_Acc2Axis) X(VOXA_Get_Acc2Axis) X(VOXA_Set_Dec2) X(VOXA_Get_Dec2) X(VOXA_Set_Dec2Axis) \
  X(VOXA_Get_Dec2Axis) X(VOXA_Set_VelMultiplier) X(VOXA_Get_VelMultiplier) X(VOXA_Enable_CLV) X(VOXA_Is_CLV) \
  X(VOXA_Set_CLVAxis) X(VOXA_Get_CLVAxis) X(VOXA_Set_VelOverride) X(VOXA_Get_VelOverride) \
  X(VOXA_Set_VelOverride2) X(VOXA_Get_VelOverride2) X(VOXA_Set_S1VelOverride) X(VOXA_Get_S1VelOverride) \
  X(VOXA_Set_S2VelOverride) X(VOXA_Get_S2VelOverride) X(VOXA_Lock_VelOverride) X(VOXA_Unlock_VelOverride) \
  X(VOXA_Is_Lock_VelOverride) X(VOXA_Set_DwellTime) X(VOXA_Get_DwellTime) X(VOXA_Enable_DwellTimeAxis) \
  X(VOXA_Set_DwellTimeAxis) X(VOXA_Get_DwellTimeAxis) X(VOXA_Set_VelCtrlHz) X(VOXA_Get_VelCtrlHz) \
  X(VOXA_Enable_VelForceConvergence) X(VOXA_Is_VelForceConvergence) X(VOXA_Enable_FFC) X(VOXA_Is_FFC) \
  X(VOXA_Set_FFC_PMax) X(VOXA_Enable_VelPosAutoTransition) X(VOXA_Is_VelPosAutoTransition) X(VOXA_Set_CurPos) \
  X(VOXA_Get_CurPos) X(VOXA_Set_EncPos) X(VOXA_Get_EncPos) X(VOXA_Get_EncZCount) X(VOXA_Set_GearRatio) \
  X(VOXA_Get_GearRatio) X(VOXA_Enable_Backlash) X(VOXA_Set_Backlash) X(VOXA_Get_Backlash) X(VOXA_Set_PosMode) \
  X(VOXA_Get_PosMode) X(VOXA_Set_PosDispMode) X(VOXA_Get_PosDispMode) X(VOXA_Home) X(VOXA_IMove) X(VOXA_CMove) \
  X(VOXA_Line) X(VOXA_ArcCW) X(VOXA_ArcCCW) X(VOXA_BitPattern) X(VOXA_Spindle) X(VOXA_XMove) X(VOXA_IHome) \
  X(VOXA_Enable_MI) X(VOXA_MIExe) X(VOXA_Is_MI) X(VOXA_Set_BPU) X(VOXA_Get_BPU) X(VOXA_Set_MasterAxis) \
  X(VOXA_Get_MasterAxis) X(VOXA_Set_HomeMode) X(VOXA_Get_HomeMode) X(VOXA_Set_HomeDir) X(VOXA_Is_HomeDir) \
  X(VOXA_Set_HomeSensorLevel) X(VOXA_Is_HomeSensorLevel) X(VOXA_Is_HomeSensor) X(VOXA_Set_HomeSeekVel) \
  X(VOXA_Get_HomeSeekVel) X(VOXA_Set_HomeSeekOffsetPulse) X(VOXA_Get_HomeSeekOffsetPulse) X(VOXA_Set_HomeDev) \
  X(VOXA_Get_HomeDev) X(VOXA_Enable_HomeDevAlarm) X(VOXA_Is_HomeDevAlarm) X(VOXA_Enable_HomeReturnAutoZero) \
  X(VOXA_Is_HomeReturnAutoZero) X(VOXA_Enable_HomeSensorAutoZero) X(VOXA_Is_HomeSensorAutoZero) \
  X(VOXA_Enable_HomeServoReset) X(VOXA_Is_HomeServoReset) X(VOXA_Is_HomeReturnExe) X(VOXA_Is_HomeReturnAlarm) \
  X(VOXA_HomeLimitAxis) X(VOXA_Is_HomeLimitAxis) X(VOXA_HomeBackSearchAxis) X(VOXA_Is_HomeBackSearchAxis) \
  /* voxa_io.h */ \
  X(VOXA_Set_ServoOn) X(VOXA_Is_ServoOn) X(VOXA_Set_ServoReset) X(VOXA_Is_ServoReset) X(VOXA_Set_ServoEStop) \
  X(VOXA_Is_ServoEStop) X(VOXA_Set_ServoUserOut) X(VOXA_Is_ServoUserOut) X(VOXA_Set_ServoReadyLevel) \
  X(VOXA_Is_ServoReadyLevel) X(VOXA_Set_ServoInposLevel) X(VOXA_Is_ServoInposLevel) X(VOXA_Set_ServoAlarmLevel) \
  X(VOXA_Is_ServoAlarmLevel) X(VOXA_Set_ServoUserInLevel) X(VOXA_Is_ServoUserInLevel) X(VOXA_Set_ServoOnLevel) \
  X(VOXA_Is_ServoOnLevel) X(VOXA_Set_ServoResetLevel) X(VOXA_Is_ServoResetLevel) X(VOXA_Set_ServoEStopLevel) \
  X(VOXA_Is_ServoEStopLevel) X(VOXA_Set_ServoUserOutLevel) X(VOXA_Is_ServoUserOutLevel) \
  X(VOXA_Enable_ServoReadyAuto) X(VOXA_Is_ServoReadyAuto) X(VOXA_Enable_ServoInposAuto) \
  X(VOXA_Is_ServoInposAuto) X(VOXA_Enable_ServoAlarmAuto) X(VOXA_Is_ServoAlarmAuto) X(VOXA_Enable_ServoOnAuto) \
  X(VOXA_Is_ServoOnAuto) X(VOXA_Enable_ServoResetAuto) X(VOXA_Is_ServoResetAuto) X(VOXA_Enable_ServoEStopAuto) \
  X(VOXA_Is_ServoEStopAuto) X(VOXA_Enable_ServoUserOutAuto) X(VOXA_Is_ServoUserOutAuto) \
  X(VOXA_Set_ServoPulseTime) X(VOXA_Get_ServoPulseTime) X(VOXA_Set_ServoOnMode) X(VOXA_Get_ServoOnMode) \
  X(VOXA_Enable_ServoInposAlarm) X(VOXA_Is_ServoInposAlarm) X(VOXA_Set_ServoInposTime) \
  X(VOXA_Get_ServoInposTime) X(VOXA_Is_ServoReady) X(VOXA_Is_ServoInpos) X(VOXA_Is_ServoAlarm) \
  X(VOXA_Is_ServoUserIn) X(VOXA_Get_GIn) X(VOXA_Get_GOut) X(VOXA_Set_GOut) X(VOXA_SetBit_GOut) \
  X(VOXA_ClrBit_GOut) X(VOXA_Pulse_GOut) X(VOXA_Set_GIOUpCounter) X(VOXA_Get_GIOUpCounter) \
  X(VOXA_Enable_GIOEncoder) X(VOXA_Set_GIOEncoder) X(VOXA_Get_GIOEncoder) X(VOXA_Get_ADC) X(VOXA_Set_PWM) \
  X(VOXA_Get_PWMPeriodCount) X(VOXA_Get_PWMDutyCount) X(VOXA_Wait_GIO) X(VOXA_Set_GIOPattern) \
  X(VOXA_Clr_GIOPattern) X(VOXA_Enable_ExtIO) X(VOXA_Is_Enable_ExtIO) X(VOXA_Enable_ExtServoIO) \
  X(VOXA_Get_ExtIO_Link_Status) X(VOXA_Is_ExtIO_Link0) X(VOXA_Is_ExtIO_Link1) X(VOXA_Is_ExtIO_Link2) \
  X(VOXA_Is_ExtIO_Link3) X(VOXA_Reset_ExtIO) X(VOXA_EmgStop_ExtIO) X(VOXA_Restart_ExtIO) X(VOXA_Get_ExtIO) \
  X(VOXA_Set_ExtIO) X(VOXA_Get_ExtIO_MPG_Status) X(VOXA_Get_ExtIO_MPG_Count) X(VOXA_Enable_Comparator) \
  X(VOXA_Set_PosComparator) X(VOXA_Set_PosComparatorX) X(VOXA_Off_PID) X(VOXA_Reset_PID) X(VOXA_Run_PID) \
  X(VOXA_Set_PIDSV) X(VOXA_Setup_PID) X(VOXA_Get_PID_Setup) X(VOXA_Is_PID_On) X(VOXA_Get_Alarm) \
  X(VOXA_Get_AlarmOption) X(VOXA_Set_AlarmOption) X(VOXA_Clr_AlarmOption) X(VOXA_Enable_StopRotateByAlarm) \
  X(VOXA_Is_StopRotateByAlarm) X(VOXA_Enable_CaptureMode) X(VOXA_CaptureSync) X(VOXA_Is_CaptureMode) \
  X(VOXA_Is_CaptureSync) X(VOXA_Init_Capture) X(VOXA_Get_CaptureCnt) X(VOXA_Get_Capture) \
  /* voxa_config.h */ \
  X(VOXA_Save_wConfigFile) X(VOXA_Save_ConfigFile) X(VOXA_Save_ReportedConfigFile) X(VOXA_Load_wConfigFile) X(VOXA_Load_ConfigFile) \
  /* voxa_tools.h */ \
  X(VOXA_Get_RegWord) X(VOXA_Set_RegWord) X(VOXA_Get_RegName) X(VOXA_Get_ReportedRegWord)

// The integers every integer parameter is tried with.
constexpr int kValues[] = {0,  1,   2,   3,   7,      8,       15,     16,         31,         32,      48,
                           -1, 255, 256, -256, 0xFFFF, 0x10000, 100000, 0x12345678, 0x7FFFFF00, INT_MAX, INT_MIN,
                           INT_MIN + 1};

// Pointers to data, as opposed to a window handle or a handler function.
template <class T>
constexpr bool kDataPointer =
    std::is_pointer_v<T> && !std::is_function_v<std::remove_pointer_t<T>> && !std::is_same_v<T, VOXA_HWND>;

// Parameter types the generic walk fills by itself.
template <class T>
constexpr bool kFillable = std::is_same_v<T, int> || std::is_same_v<T, unsigned> || std::is_same_v<T, VOXA_HWND> ||
                           std::is_same_v<T, const int*> || std::is_same_v<T, const VOXA_PID_SETUP*> ||
                           std::is_same_v<T, VOXA_PID_SETUP*> || std::is_same_v<T, uint32_t*>;

// Heap blocks handed to one call, each exactly as large as the export may use.
struct Arena {
  std::vector<std::unique_ptr<int[]>> ints;
  std::vector<std::unique_ptr<VOXA_PID_SETUP>> setups;
  std::vector<std::unique_ptr<uint32_t>> words;
};

template <class T>
T Fill(Arena& a, int value) {
  if constexpr (std::is_same_v<T, int>) {
    return value;
  } else if constexpr (std::is_same_v<T, unsigned>) {
    return static_cast<unsigned>(value);
  } else if constexpr (std::is_same_v<T, VOXA_HWND>) {
    return nullptr;
  } else if constexpr (std::is_same_v<T, const int*>) {
    a.ints.push_back(std::make_unique<int[]>(8));  // one value per axis
    for (int k = 0; k < 8; ++k) a.ints.back()[k] = value ^ k;
    return a.ints.back().get();
  } else if constexpr (std::is_same_v<T, const VOXA_PID_SETUP*> || std::is_same_v<T, VOXA_PID_SETUP*>) {
    a.setups.push_back(std::make_unique<VOXA_PID_SETUP>());
    std::memset(a.setups.back().get(), value & 0xFF, sizeof(VOXA_PID_SETUP));
    return a.setups.back().get();
  } else {
    static_assert(std::is_same_v<T, uint32_t*>);
    a.words.push_back(std::make_unique<uint32_t>(0));
    return a.words.back().get();
  }
}

template <class T>
T NullOrOne() {
  if constexpr (std::is_pointer_v<T>)
    return nullptr;
  else
    return static_cast<T>(1);
}

struct Export {
  std::string name;
  int arity = 0;
  bool fillable = false;      // every parameter is one the generic walk fills
  bool data_pointer = false;  // takes a pointer to data
  bool returns_int = false;
  // Every integer parameter (or only parameter `only`, the others 1) := value.
  std::function<void(int value, int only)> walk;
  // Every pointer null, every integer 1; the result (0 for no result).
  std::function<int()> with_nulls;
};

template <class R, class... A>
Export Describe(const char* name, R (*f)(A...)) {
  Export e;
  e.name = name;
  e.arity = static_cast<int>(sizeof...(A));
  e.fillable = (kFillable<A> && ...);
  e.data_pointer = (kDataPointer<A> || ...);
  e.returns_int = std::is_same_v<R, int>;
  if constexpr ((kFillable<A> && ...)) {
    e.walk = [f](int value, int only) {
      Arena arena;
      [[maybe_unused]] int index = 0;
      [[maybe_unused]] auto next = [&](auto type) {
        using T = typename decltype(type)::type;
        const int i = index++;
        return Fill<T>(arena, only < 0 || only == i ? value : 1);
      };
      // Braced initialisation evaluates the arguments left to right.
      std::tuple<A...> args{next(std::type_identity<A>{})...};
      std::apply(f, args);
    };
  }
  e.with_nulls = [f]() -> int {
    if constexpr (std::is_same_v<R, int>)
      return f(NullOrOne<A>()...);
    else {
      f(NullOrOne<A>()...);
      return 0;
    }
  };
  return e;
}

std::vector<Export> AllExports() {
#define VOXA_DESCRIBE(f) Describe(#f, &f),
  return {VOXA_EXPORTS(VOXA_DESCRIBE)};
#undef VOXA_DESCRIBE
}

// A buffer of n bytes (n >= 0) that AddressSanitizer guards at both ends.
template <class T>
std::unique_ptr<T[]> Block(int64_t n) {
  return std::make_unique<T[]>(static_cast<size_t>(std::max<int64_t>(n, 0)));
}

// Text getters (buffer, length): the buffer is exactly the length passed,
// or as long as the text when the length is larger than any text.
template <class Ch>
void WalkText(void (*get)(Ch*, int), int value) {
  constexpr int kLongest = 64;
  const int size = value < 1 ? 1 : std::min(value, kLongest);
  auto buf = Block<Ch>(size);
  std::fill(buf.get(), buf.get() + size, Ch('#'));
  get(buf.get(), value);
  if (value < 1) {
    EXPECT_EQ(buf[0], Ch('#')) << "length " << value << " wrote to the buffer";
  } else {
    EXPECT_NE(std::find(buf.get(), buf.get() + size, Ch(0)), buf.get() + size) << "length " << value;
  }
  get(nullptr, value);
}

// Exports the generic walk cannot fill, or whose integers mean a duration.
std::map<std::string, std::function<void(int)>> SpecialWalks() {
  return {
      {"VOXA_Get_DllVer", [](int v) { WalkText(&VOXA_Get_DllVer, v); }},
      {"VOXA_Get_wDllVer", [](int v) { WalkText(&VOXA_Get_wDllVer, v); }},
      {"VOXA_Get_EngineVer", [](int v) { WalkText(&VOXA_Get_EngineVer, v); }},
      {"VOXA_Get_ErrText",
       [](int v) {
         const char* text = VOXA_Get_ErrText(v);
         ASSERT_NE(text, nullptr);
         EXPECT_LT(std::strlen(text), 200u);
       }},
      // The text is cut to the length given; null pointers are not wanted answers.
      {"VOXA_Get_OpenError",
       [](int v) {
         const int len = v < 0 || v > 64 ? 64 : v;
         auto text = Block<char>(len);
         int os_error = -1;
         // A length beyond the buffer would be the caller's fault: at most its size.
         const int kind = VOXA_Get_OpenError(&os_error, v > 0 ? text.get() : nullptr, v > 0 ? len : v);
         EXPECT_TRUE(kind >= VOXA_OPEN_NONE && kind <= VOXA_OPEN_HELD) << v;
         if (v > 0 && v <= 64) {
           EXPECT_LT(std::strlen(text.get()), static_cast<size_t>(v)) << v;
         }
       }},
      {"VOXA_Get_RegName",
       [](int v) {
         const char* name = VOXA_Get_RegName(v);
         EXPECT_EQ(name != nullptr, v >= 0 && v <= 31) << v;
       }},
      // The caller's pattern holds 32 bytes for every started 256 bits. Counts
      // past 4096 bits would only send more chunks of the same kind.
      {"VOXA_Set_GIOPattern",
       [](int v) {
         if (v > 4096) return;
         const int64_t bytes = v <= 0 ? 0 : 32 * ((static_cast<int64_t>(v) + 255) / 256);
         auto pattern = Block<uint8_t>(bytes);
         EXPECT_EQ(VOXA_Set_GIOPattern(v, pattern.get()), 1) << v;
       }},
      // Blocks of eight values: one for a count above 0, two above 15, three
      // above 31, four above 47.
      {"VOXA_BitPattern",
       [](int v) {
         const int blocks = v > 47 ? 4 : v > 31 ? 3 : v > 15 ? 2 : v > 0 ? 1 : 0;
         auto values = Block<int>(8 * blocks);
         for (int axes : {v, 1, 0xFF})
           EXPECT_EQ(VOXA_BitPattern(axes, values.get(), v), 1) << v;
         auto eight = Block<int>(32);
         EXPECT_EQ(VOXA_BitPattern(v, eight.get(), 48), 1) << v;
       }},
      // Any id, and timeouts short enough not to hold the walk up.
      {"VOXA_WaitMotion",
       [](int v) {
         VOXA_WaitMotion(v, 0);
         VOXA_WaitMotion(v, 1);
       }},
      {"VOXA_Sleep", [](int v) { VOXA_Sleep(static_cast<uint32_t>(v) & 1u); }},
      {"VOXA_Refresh",
       [](int v) {
         VOXA_Refresh(static_cast<unsigned>(v), v & 1);
         VOXA_Refresh(1, v < 0 ? v : v & 1);
       }},
      // Any id, then back to the current board.
      {"VOXA_Set_ThreadBoardID",
       [](int v) {
         VOXA_Set_ThreadBoardID(v);
         VOXA_Set_ThreadBoardID(-1);
       }},
  };
}

// Exports the integer walk leaves out: they open or close board slots, or
// take nothing but pointers (handlers, paths), which the null walk covers.
const std::set<std::string> kNotWalked = {
    "VOXA_Open_Comm",        "VOXA_Open_Tcp",          "VOXA_Open_CommDevice",        "VOXA_Close",
    "VOXA_Save_ConfigFile",  "VOXA_Save_wConfigFile",  "VOXA_Load_ConfigFile",        "VOXA_Load_wConfigFile",
    "VOXA_Save_ReportedConfigFile",
    "VOXA_Set_BeepHandler",  "VOXA_Set_MessageHandler", "VOXA_Set_ErrorReportHandler", "VOXA_Set_TraceHandler",
    "VOXA_Set_BoardMessageHandler", "VOXA_Set_StateHandler", "VOXA_Set_LinkHandler",
    "VOXA_Set_LogHandler",
};

void VOXA_CALL QuietBeep(unsigned) {}

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    VOXA_Set_BeepHandler(&QuietBeep);
    board_ = peer_.Open();
    ASSERT_GE(board_, 0);
  }
  void TearDown() override {
    VOXA_Enable_ErrBeep(0);
    VOXA_Set_BeepHandler(nullptr);
  }

  // Until the soft queue is empty and the board has seen every frame. The
  // queue is cleared first (a slot keeps it across close and reopen) and the
  // board reports itself idle, with an engine of version 2.07, after the walk
  // may have put any busy bit, waiting count or version into the host's
  // image of CHIPSTATUS.
  void Settle() {
    VOXA_Clr_Queue();
    std::vector<uint8_t> idle{0x01, 0xFF, 0x28};  // CHIPSTATUS, words 0-7, eight 4-byte values
    idle.resize(idle.size() + 7 * 4, 0);
    for (uint8_t b : {0x36, 0x27, 0x01, 0x04}) idle.push_back(b);  // word 7: 0x04012736
    peer_.SendPacket(11, idle);
    for (int k = 0; k < 400 && VOXA_Get_SoftQueueLeftCmd() > 0; ++k) VOXA_Sleep(5);
    ASSERT_EQ(VOXA_Get_SoftQueueLeftCmd(), 0);
    peer_.Drain(50);
  }

  voxa::test::FakeBoard peer_;
  int board_ = -1;
};

std::set<std::string> ListedNames() {
  std::set<std::string> names;
  for (const Export& e : AllExports()) EXPECT_TRUE(names.insert(e.name).second) << e.name << " listed twice";
  return names;
}

TEST(ExportTable, MatchesTheHeadersAndTheLibrary) {
  namespace fs = std::filesystem;
  const std::set<std::string> listed = ListedNames();

  // Declared in the public headers.
  const fs::path include = fs::path(__FILE__).parent_path().parent_path().parent_path() / "include" / "voxa";
  ASSERT_TRUE(fs::is_directory(include)) << include;
  std::set<std::string> declared;
  const std::regex decl(R"(VOXA_API\s[^;]*?VOXA_CALL\s+(VOXA_\w+)\s*\()");
  for (const auto& f : fs::directory_iterator(include)) {
    std::ifstream in(f.path());
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    for (auto m = std::sregex_iterator(s.begin(), s.end(), decl); m != std::sregex_iterator(); ++m)
      declared.insert((*m)[1].str());
  }
  EXPECT_EQ(listed, declared) << "the list in this file and the declarations in include/voxa differ";

  // Exported by the shared library built beside this test program.
  std::string lib;
  const auto exported = voxa::test::LibraryExports(lib);
  ASSERT_TRUE(exported.has_value()) << "cannot read the exports of " << lib;
  EXPECT_EQ(listed, *exported) << "the list in this file and the exports of " << lib << " differ";
}

// Every export that takes a pointer to data, called with null pointers and
// every integer 1 (one axis, one bit, one count: the pointer would be read):
// -50 and the failure value where it returns one, and nothing sent.
TEST_F(BadInput, NullPointersAreRejectedAndNothingIsSent) {
  Settle();
  int walked = 0;
  for (const Export& e : AllExports()) {
    // VOXA_Get_OpenError needs no board and takes null for an answer not wanted.
    if (!e.data_pointer || e.name == "VOXA_Get_OpenError") continue;
    ++walked;
    const int result = e.with_nulls();
    if (e.returns_int) {
      EXPECT_EQ(result, e.name == "VOXA_Open_CommDevice" ? -1 : 0) << e.name;
      // A null file name fails like a name of no file: -40 for a save, no
      // error for a load; everything else rejects the argument.
      if (e.name == "VOXA_Save_ConfigFile" || e.name == "VOXA_Save_wConfigFile" ||
          e.name == "VOXA_Save_ReportedConfigFile") {
        EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_CONFIG_SAVE) << e.name;
      } else if (e.name != "VOXA_Load_ConfigFile" && e.name != "VOXA_Load_wConfigFile") {
        EXPECT_EQ(VOXA_Is_Err(), 1) << e.name;
        EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT) << e.name;
      }
    }
    EXPECT_EQ(VOXA_Get_BoardID(), board_) << e.name;
  }
  EXPECT_GE(walked, 20);
  EXPECT_EQ(VOXA_Get_SoftQueueLeftCmd(), 0);
  const auto frame = peer_.NextFrame(100);
  EXPECT_FALSE(frame.has_value()) << "sent opcode " << (frame ? int(frame->opcode) : 0);

  // Handlers and windows may be null: that unsets them.
  VOXA_Set_MessageHandler(nullptr);
  VOXA_Set_ErrorReportHandler(nullptr);
  VOXA_Set_TraceHandler(nullptr);
  VOXA_Set_BoardMessageHandler(nullptr);
  VOXA_Set_StateHandler(nullptr);
  VOXA_Set_LinkHandler(nullptr);
  VOXA_Set_LogHandler(nullptr);
  EXPECT_EQ(VOXA_Register_Complete_Message(nullptr, 0x400), 1);
  EXPECT_EQ(VOXA_Register_Comparator_Message(nullptr, 0x401), 1);
}

// Every export with every integer parameter at each edge value, all at once
// and one parameter at a time. Buffers are exactly as large as the export may
// use, so AddressSanitizer sees any access outside them; the board stays
// open and selected throughout.
TEST_F(BadInput, ExtremeIntegersStayInsideTheExportsData) {
  VOXA_Enable_ErrBeep(1);
  const auto special = SpecialWalks();
  int walked = 0;
  for (const Export& e : AllExports()) {
    SCOPED_TRACE(e.name);
    if (kNotWalked.count(e.name)) continue;
    const auto s = special.find(e.name);
    if (s != special.end()) {
      for (int v : kValues) s->second(v);
    } else {
      ASSERT_TRUE(e.fillable) << e.name << " takes a parameter the walk cannot fill: give it a special walk";
      if (e.arity == 0) {
        e.walk(0, -1);
      } else {
        for (int v : kValues) {
          e.walk(v, -1);
          if (e.arity > 1)
            for (int p = 0; p < e.arity; ++p) e.walk(v, p);
        }
      }
    }
    ++walked;
    ASSERT_EQ(VOXA_Get_BoardID(), board_) << "after " << e.name;
  }
  EXPECT_GE(walked, 380);

  // The board still takes commands.
  VOXA_Enable_ErrBeep(0);
  Settle();
  VOXA_Enter_ImCmd();
  const int line[8] = {10, 20};
  EXPECT_EQ(VOXA_Line(0x03, line), 1);
  EXPECT_TRUE(peer_.NextFrameWithCode(0x5B, 2000).has_value());
  VOXA_Leave_ImCmd();
}

// Every board export without a board to act on: before any open (-10) and on
// a slot that is not open (-21), each fails with its failure value (-1 for
// the getters whose values may be 0, no value for some, else 0) and the error
// flag set; a later success clears the flag and keeps the code.
TEST(GuardFailures, EveryBoardExportFailsWithItsFailureValue) {
  const std::set<std::string> unguarded = {
      "VOXA_Is_Err", "VOXA_Get_LastErr", "VOXA_Enable_ErrBeep", "VOXA_Get_DllVer", "VOXA_Get_wDllVer",
      "VOXA_Sleep", "VOXA_Close", "VOXA_Set_BoardID", "VOXA_Set_ThreadBoardID", "VOXA_Get_ErrText",
      "VOXA_Get_OpenError", "VOXA_Get_RegName", "VOXA_Init_Capture", "VOXA_Open_Comm", "VOXA_Open_Tcp",
      "VOXA_Open_CommDevice"};
  const std::set<std::string> minus_one = {
      "VOXA_Get_BoardID", "VOXA_Get_ImStopDec", "VOXA_Get_ExtEmgStopMode", "VOXA_Get_CmdID",
      "VOXA_Get_ExeCmdID", "VOXA_Get_ReadyCmdID", "VOXA_Get_BusySize", "VOXA_Get_InterruptMode",
      "VOXA_Get_ProcCmdNo", "VOXA_Get_CurDelayTime", "VOXA_Get_CmdState", "VOXA_Get_PosDispMode",
      "VOXA_Get_PosMode", "VOXA_Get_StateTimer", "VOXA_Get_PulseMode", "VOXA_Get_SoftLimitMode",
      "VOXA_Get_VelMode", "VOXA_Get_DwellTime", "VOXA_Get_DwellTimeAxis", "VOXA_Get_VelCtrlHz",
      "VOXA_Get_EncZCount", "VOXA_Get_GearRatio", "VOXA_Get_HomeMode", "VOXA_Get_HomeDev",
      "VOXA_Get_HomeSeekOffsetPulse", "VOXA_Get_ServoOnMode",
      // extensions
      "VOXA_Get_RegAge", "VOXA_Get_InDoubtFrames", "VOXA_Get_WaitReason", "VOXA_Get_CompleteReason"};
  VOXA_Set_BeepHandler(&QuietBeep);
  std::atomic<int32_t>& current = voxa::api::CurrentBoard();
  const int32_t before = current.load();
  int closed = 7;
  while (closed > 0 && VOXA_Set_BoardID(closed) == 1) --closed;
  for (const auto& [board, code] : {std::pair{-1, VOXA_ERR_BOARD_ID}, std::pair{closed, VOXA_ERR_NOT_OPEN}}) {
    current.store(board);
    for (const Export& e : AllExports()) {
      if (e.name.rfind("VOXA_Set_", 0) == 0 && e.name.find("Handler") != std::string::npos) continue;
      if (unguarded.count(e.name)) continue;
      EXPECT_EQ(e.with_nulls(), minus_one.count(e.name) ? -1 : 0) << e.name << " on board " << board;
      EXPECT_EQ(VOXA_Is_Err(), 1) << e.name;
      EXPECT_EQ(VOXA_Get_LastErr(), code) << e.name;
      // The unguarded queries leave the error state alone.
      char text[4];
      VOXA_Get_DllVer(text, 4);
      EXPECT_EQ(VOXA_Is_Err(), 1) << e.name;
    }
  }
  current.store(before);
  VOXA_Set_BeepHandler(nullptr);
}

// Leaving a command mode that was never entered, and entering past the
// depth of the mode stack, leave the board usable and the command group
// lock free.
TEST_F(BadInput, UnbalancedCommandModeBrackets) {
  VOXA_Leave_ImCmd();
  for (int k = 0; k < 1100; ++k) VOXA_Enter_ImCmd();
  for (int k = 0; k < 1101; ++k) VOXA_Leave_ImCmd();
  VOXA_Leave_QueueCmd();  // unmatched: queued from here on
  EXPECT_EQ(VOXA_Get_BoardID(), board_);
  std::thread other([] {
    VOXA_Enter_QueueCmd();
    VOXA_Leave_QueueCmd();
  });
  other.join();
  Settle();
  const int values[8] = {5};
  EXPECT_EQ(VOXA_IMove(0x01, values), 1);
  const auto f = peer_.NextFrameWithCode(0x11 + 2 * 7, 2000);  // the CAL0 write
  ASSERT_TRUE(f.has_value());
  EXPECT_FALSE(f->immediate);
}

}  // namespace
