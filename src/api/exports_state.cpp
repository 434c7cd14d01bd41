// State packets, state timers, packet counters and messages.
#include "api/board_table.h"
#include "families/packet_switches.h"

using namespace voxa;
using namespace voxa::api;
using family::Board;
using family::Packet;

extern "C" {

VOXA_API int VOXA_CALL VOXA_Enable_BusyStatePacket(int flag) { return Guard(0, [&](Board& c) { return family::EnablePacket(c, Packet::Busy, flag); }); }
VOXA_API int VOXA_CALL VOXA_Enable_CompleteStatePacket(int flag) { return Guard(0, [&](Board& c) { return family::EnablePacket(c, Packet::Complete, flag); }); }
VOXA_API int VOXA_CALL VOXA_Enable_InterruptStatePacket(int flag) { return Guard(0, [&](Board& c) { return family::EnablePacket(c, Packet::Interrupt, flag); }); }
VOXA_API int VOXA_CALL VOXA_Enable_EventStatePacket(int flag) { return Guard(0, [&](Board& c) { return family::EnablePacket(c, Packet::Event, flag); }); }
VOXA_API int VOXA_CALL VOXA_Is_BusyStatePacket(void) { return Guard(0, [](Board& c) { return family::IsPacket(c, Packet::Busy); }); }
VOXA_API int VOXA_CALL VOXA_Is_CompleteStatePacket(void) { return Guard(0, [](Board& c) { return family::IsPacket(c, Packet::Complete); }); }
VOXA_API int VOXA_CALL VOXA_Is_InterruptStatePacket(void) { return Guard(0, [](Board& c) { return family::IsPacket(c, Packet::Interrupt); }); }
VOXA_API int VOXA_CALL VOXA_Is_EventStatePacket(void) { return Guard(0, [](Board& c) { return family::IsPacket(c, Packet::Event); }); }

VOXA_API void VOXA_CALL VOXA_Set_BusyStatePacketCount(int n) { GuardVoid([&](Board& c) { family::SetPacketCount(c, Packet::Busy, static_cast<uint32_t>(n)); }); }
VOXA_API void VOXA_CALL VOXA_Set_CompleteStatePacketCount(int n) { GuardVoid([&](Board& c) { family::SetPacketCount(c, Packet::Complete, static_cast<uint32_t>(n)); }); }
VOXA_API void VOXA_CALL VOXA_Set_InterruptStatePacketCount(int n) { GuardVoid([&](Board& c) { family::SetPacketCount(c, Packet::Interrupt, static_cast<uint32_t>(n)); }); }
VOXA_API void VOXA_CALL VOXA_Set_EventStatePacketCount(int n) { GuardVoid([&](Board& c) { family::SetPacketCount(c, Packet::Event, static_cast<uint32_t>(n)); }); }
VOXA_API int VOXA_CALL VOXA_Get_BusyStatePacketCount(void) { return Guard(0, [](Board& c) { return static_cast<int>(family::GetPacketCount(c, Packet::Busy)); }); }
VOXA_API int VOXA_CALL VOXA_Get_CompleteStatePacketCount(void) { return Guard(0, [](Board& c) { return static_cast<int>(family::GetPacketCount(c, Packet::Complete)); }); }
VOXA_API int VOXA_CALL VOXA_Get_InterruptStatePacketCount(void) { return Guard(0, [](Board& c) { return static_cast<int>(family::GetPacketCount(c, Packet::Interrupt)); }); }
VOXA_API int VOXA_CALL VOXA_Get_EventStatePacketCount(void) { return Guard(0, [](Board& c) { return static_cast<int>(family::GetPacketCount(c, Packet::Event)); }); }

VOXA_API int VOXA_CALL VOXA_Set_StateTimer(int flags) { return Guard(0, [&](Board& c) { return family::SetStateTimer(c, static_cast<uint32_t>(flags)); }); }
VOXA_API int VOXA_CALL VOXA_Get_StateTimer(int selector) { return Guard(-1, [&](Board& c) { return family::GetStateTimer(c, static_cast<uint32_t>(selector)); }); }
VOXA_API int VOXA_CALL VOXA_Clr_StateTimer(int flags) { return Guard(0, [&](Board& c) { return family::ClrStateTimer(c, static_cast<uint32_t>(flags)); }); }
VOXA_API int VOXA_CALL VOXA_Is_StateTimer(int flags) { return Guard(0, [&](Board& c) { return family::IsStateTimer(c, static_cast<uint32_t>(flags)); }); }

VOXA_API int VOXA_CALL VOXA_Register_Comparator_Message(VOXA_HWND window, unsigned int message) {
  return Guard(0, [&](Board& c) { c.RegisterEvent(kEventComparator, window, message); return 1; });
}
VOXA_API int VOXA_CALL VOXA_Unregister_Comparator_Message(void) {
  return Guard(0, [](Board& c) { c.RegisterEvent(kEventComparator, nullptr, 0); return 1; });
}

}  // extern "C"
