// Command queue, command mode, command IDs, waits and completion.
#include "api/board_table.h"
#include "families/shapes.h"

using namespace voxa;
using namespace voxa::api;
using family::Board;

namespace {

constexpr family::BoardField kProcCmdNo{CHIPSET, 1, 0xF0000000, 28};
constexpr family::BoardField kBusySize{CHIPSET, 0, 0x1800, 11};
constexpr family::BoardBit kNotifyComplete{CHIPSET, 0, 0x20000000, family::Flag::LowByte};

uint32_t ChipStatus(Board& c, int word, uint32_t mask, int shift) { return c.TestRegBits(CHIPSTATUS, word, mask) >> shift; }

int BusySizeCode(int percent) { return percent <= 37 ? 0 : percent <= 62 ? 1 : percent <= 87 ? 2 : 3; }

}  // namespace

extern "C" {

VOXA_API void VOXA_CALL VOXA_Enter_QueueCmd(void) { GuardVoid([](Board& c) { c.EnterQueueCmd(); }); }
VOXA_API void VOXA_CALL VOXA_Leave_QueueCmd(void) { GuardVoid([](Board& c) { c.LeaveQueueCmd(); }); }
VOXA_API void VOXA_CALL VOXA_Enter_ImCmd(void) { GuardVoid([](Board& c) { c.EnterImCmd(); }); }
VOXA_API void VOXA_CALL VOXA_Leave_ImCmd(void) { GuardVoid([](Board& c) { c.LeaveImCmd(); }); }

VOXA_API int VOXA_CALL VOXA_Reallocate_SoftQueue(int size) {
  return Guard(0, [&](Board& c) {
    if (c.AllocateSoftQueue(size)) return 1;
    Fail(VOXA_ERR_SOFT_QUEUE);
    return 0;
  });
}
VOXA_API int VOXA_CALL VOXA_Get_SoftQueueSize(void) { return Guard(0, [](Board& c) { return c.soft_queue().capacity(); }); }
VOXA_API int VOXA_CALL VOXA_Get_SoftQueueLeftCmd(void) { return Guard(0, [](Board& c) { return c.soft_queue().frames(); }); }
VOXA_API int VOXA_CALL VOXA_Get_EngineQueueLeftCmd(void) {
  return Guard(0, [](Board& c) { return static_cast<int>(ChipStatus(c, 1, 0xFF00, 8)); });
}
VOXA_API int VOXA_CALL VOXA_Get_CmdQueueLeftCmd(void) {
  return Guard(0, [](Board& c) { return static_cast<int>(ChipStatus(c, 1, 0xFF00, 8)) + c.soft_queue().frames(); });
}
VOXA_API int VOXA_CALL VOXA_Clr_Queue(void) {
  return Guard(0, [](Board& c) {
    c.NoteHostStop();
    c.ClearSoftQueue();
    c.System(0x08, kTagSystem);
    return 1;
  });
}

VOXA_API int VOXA_CALL VOXA_Set_CmdID(int id) { return Guard(0, [&](Board& c) { c.SetCmdId(static_cast<uint8_t>(id)); return 1; }); }
VOXA_API int VOXA_CALL VOXA_Get_CmdID(void) { return Guard(-1, [](Board& c) { return static_cast<int>(c.CmdId()); }); }
VOXA_API int VOXA_CALL VOXA_Get_ExeCmdID(void) { return Guard(-1, [](Board& c) { return static_cast<int>(ChipStatus(c, 1, 0xFF000000, 24)); }); }
VOXA_API int VOXA_CALL VOXA_Get_ReadyCmdID(void) { return Guard(-1, [](Board& c) { return static_cast<int>(ChipStatus(c, 1, 0xFF0000, 16)); }); }
VOXA_API int VOXA_CALL VOXA_Set_ProcCmdNo(int n) {
  return Guard(0, [&](Board& c) { return family::SetBoardField(c, kProcCmdNo, static_cast<uint32_t>(n) & 0xF); });
}
VOXA_API int VOXA_CALL VOXA_Get_ProcCmdNo(void) { return Guard(-1, [](Board& c) { return static_cast<int>(family::GetBoardField(c, kProcCmdNo)); }); }
VOXA_API int VOXA_CALL VOXA_Set_BusySize(int percent) {
  return Guard(0, [&](Board& c) { return family::SetBoardField(c, kBusySize, static_cast<uint32_t>(BusySizeCode(percent))); });
}
VOXA_API int VOXA_CALL VOXA_Get_BusySize(void) {
  return Guard(-1, [](Board& c) { return 25 * (static_cast<int>(family::GetBoardField(c, kBusySize)) + 1); });
}

// ---- waits and completion ----
VOXA_API int VOXA_CALL VOXA_Sync(void) { return Guard(0, [](Board& c) { c.Action(0x53, 0); return 1; }); }
VOXA_API int VOXA_CALL VOXA_Is_Sync(void) { return Guard(0, [](Board& c) { return static_cast<int>(ChipStatus(c, 0, 0x4, 2)); }); }
VOXA_API void VOXA_CALL VOXA_Wait(void) { GuardVoid([](Board& c) { c.Action(0x52, 0); }); }
VOXA_API int VOXA_CALL VOXA_WaitMotion(int id, uint32_t timeout) {
  return Guard(0, [&](Board& c) { return c.WaitMotion(static_cast<uint8_t>(id), timeout); });
}
VOXA_API int VOXA_CALL VOXA_Get_WaitReason(void) { return Guard(-1, [](Board& c) { return c.WaitReason(); }); }
VOXA_API int VOXA_CALL VOXA_Get_CompleteReason(int id) {
  return Guard(-1, [&](Board& c) {
    Require(id >= 0 && id <= 255);
    return c.CompleteReason(static_cast<uint8_t>(id));
  });
}
VOXA_API int VOXA_CALL VOXA_Refresh(unsigned int registers, int timeout_ms) {
  return Guard(0, [&](Board& c) {
    Require(registers != 0 && timeout_ms >= 0);
    return c.Refresh(registers, static_cast<uint32_t>(timeout_ms));
  });
}
VOXA_API void VOXA_CALL VOXA_Sleep(uint32_t ms) {
  // A window thread that sleeps here keeps dispatching its messages.
  if (ms) platform::SleepDispatching(ms);
}
VOXA_API int VOXA_CALL VOXA_Enable_Notify_Complete(int on) {
  return Guard(0, [&](Board& c) { return family::SetBoardBit(c, kNotifyComplete, on); });
}
VOXA_API int VOXA_CALL VOXA_Notify_Complete(int id) {
  return Guard(0, [&](Board& c) {
    const uint8_t tag = static_cast<uint8_t>(id);
    if (tag != kNoTag) c.NoteIdSent(tag);
    c.System(0x0A, tag);
    return 1;
  });
}
VOXA_API int VOXA_CALL VOXA_Register_Complete_Message(VOXA_HWND window, unsigned int message) {
  return Guard(0, [&](Board& c) { c.RegisterEvent(kEventComplete, window, message); return 1; });
}
VOXA_API int VOXA_CALL VOXA_Unregister_Complete_Message(void) {
  return Guard(0, [](Board& c) { c.RegisterEvent(kEventComplete, nullptr, 0); return 1; });
}

// ---- execution state ----
VOXA_API int VOXA_CALL VOXA_Get_CmdState(void) { return Guard(-1, [](Board& c) { return static_cast<int>(ChipStatus(c, 0, 0x3000, 12)); }); }
VOXA_API int VOXA_CALL VOXA_Is_PreparedCmd(void) { return Guard(0, [](Board& c) { return static_cast<int>(ChipStatus(c, 0, 0x8000, 15)); }); }
VOXA_API int VOXA_CALL VOXA_Is_Busy(void) { return Guard(0, [](Board& c) { return static_cast<int>(ChipStatus(c, 0, 0x1, 0)); }); }
VOXA_API int VOXA_CALL VOXA_Is_Complete(void) { return Guard(0, [](Board& c) { return static_cast<int>(ChipStatus(c, 0, 0x2, 1)); }); }
VOXA_API int VOXA_CALL VOXA_Is_OnMotion(void) { return Guard(0, [](Board& c) { return static_cast<int>(ChipStatus(c, 0, 0x40, 6)); }); }
VOXA_API int VOXA_CALL VOXA_Is_CompleteAxis(int mask) {
  return Guard(0, [&](Board& c) {
    for (int i = 0; i < 8; ++i)
      if ((mask & (1 << i)) && !c.TestRegBits(AXISSTATUS, i, 0x800000)) return 0;
    return 1;
  });
}
VOXA_API int VOXA_CALL VOXA_Get_ScanTime(void) { return Guard(0, [](Board& c) { return static_cast<int>(ChipStatus(c, 1, 0xFF, 0)); }); }
VOXA_API int VOXA_CALL VOXA_Get_CurCmdPulse(void) { return Guard(0, [](Board& c) { return static_cast<int>(c.GetRegWord(CHIPSTATUS, 3)); }); }
VOXA_API int VOXA_CALL VOXA_Get_CmdPulseMax(void) { return Guard(0, [](Board& c) { return static_cast<int>(c.GetRegWord(CHIPSTATUS, 4)); }); }
VOXA_API int VOXA_CALL VOXA_Get_CurDelayTime(void) {
  return Guard(-1, [](Board& c) { return static_cast<int>(ChipStatus(c, 5, 0xFFFFFF, 0)); });
}

}  // extern "C"
