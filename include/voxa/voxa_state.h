/* voxa_state.h - State packets, state timers, packet counters and messages. Included by voxa.h. */
#ifndef VOXA_VOXA_STATE_H
#define VOXA_VOXA_STATE_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

VOXA_API int VOXA_CALL VOXA_Enable_BusyStatePacket(int flag);
VOXA_API int VOXA_CALL VOXA_Enable_CompleteStatePacket(int flag);
VOXA_API int VOXA_CALL VOXA_Enable_InterruptStatePacket(int flag);
VOXA_API int VOXA_CALL VOXA_Enable_EventStatePacket(int flag);
VOXA_API int VOXA_CALL VOXA_Is_BusyStatePacket(void);
VOXA_API int VOXA_CALL VOXA_Is_CompleteStatePacket(void);
VOXA_API int VOXA_CALL VOXA_Is_InterruptStatePacket(void);
VOXA_API int VOXA_CALL VOXA_Is_EventStatePacket(void);
VOXA_API void VOXA_CALL VOXA_Set_BusyStatePacketCount(int n);
VOXA_API void VOXA_CALL VOXA_Set_CompleteStatePacketCount(int n);
VOXA_API void VOXA_CALL VOXA_Set_InterruptStatePacketCount(int n);
VOXA_API void VOXA_CALL VOXA_Set_EventStatePacketCount(int n);
VOXA_API int VOXA_CALL VOXA_Get_BusyStatePacketCount(void);
VOXA_API int VOXA_CALL VOXA_Get_CompleteStatePacketCount(void);
VOXA_API int VOXA_CALL VOXA_Get_InterruptStatePacketCount(void);
VOXA_API int VOXA_CALL VOXA_Get_EventStatePacketCount(void);
VOXA_API int VOXA_CALL VOXA_Set_StateTimer(int flags);
VOXA_API int VOXA_CALL VOXA_Get_StateTimer(int selector);
VOXA_API int VOXA_CALL VOXA_Clr_StateTimer(int flags);
VOXA_API int VOXA_CALL VOXA_Is_StateTimer(int flags);
VOXA_API int VOXA_CALL VOXA_Register_Comparator_Message(VOXA_HWND window, unsigned int message);
VOXA_API int VOXA_CALL VOXA_Unregister_Comparator_Message(void);

#ifdef __cplusplus
}
#endif
#endif
