/* voxa_queue.h - Command queue, command mode, command IDs, waits and completion. Included by voxa.h. */
#ifndef VOXA_VOXA_QUEUE_H
#define VOXA_VOXA_QUEUE_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

VOXA_API void VOXA_CALL VOXA_Enter_QueueCmd(void);
VOXA_API void VOXA_CALL VOXA_Leave_QueueCmd(void);
VOXA_API void VOXA_CALL VOXA_Enter_ImCmd(void);
VOXA_API void VOXA_CALL VOXA_Leave_ImCmd(void);
VOXA_API int VOXA_CALL VOXA_Reallocate_SoftQueue(int size);
VOXA_API int VOXA_CALL VOXA_Get_SoftQueueSize(void);
VOXA_API int VOXA_CALL VOXA_Get_SoftQueueLeftCmd(void);
VOXA_API int VOXA_CALL VOXA_Get_EngineQueueLeftCmd(void);
VOXA_API int VOXA_CALL VOXA_Get_CmdQueueLeftCmd(void);
VOXA_API int VOXA_CALL VOXA_Clr_Queue(void);
VOXA_API int VOXA_CALL VOXA_Set_CmdID(int id);
VOXA_API int VOXA_CALL VOXA_Get_CmdID(void);
VOXA_API int VOXA_CALL VOXA_Get_ExeCmdID(void);
VOXA_API int VOXA_CALL VOXA_Get_ReadyCmdID(void);
VOXA_API int VOXA_CALL VOXA_Set_ProcCmdNo(int n);
VOXA_API int VOXA_CALL VOXA_Get_ProcCmdNo(void);
VOXA_API int VOXA_CALL VOXA_Set_BusySize(int percent);
VOXA_API int VOXA_CALL VOXA_Get_BusySize(void);
VOXA_API int VOXA_CALL VOXA_Sync(void);
VOXA_API int VOXA_CALL VOXA_Is_Sync(void);
VOXA_API void VOXA_CALL VOXA_Wait(void);
VOXA_API int VOXA_CALL VOXA_WaitMotion(int id, uint32_t timeout);
VOXA_API void VOXA_CALL VOXA_Sleep(uint32_t ms);
VOXA_API int VOXA_CALL VOXA_Enable_Notify_Complete(int on);
VOXA_API int VOXA_CALL VOXA_Notify_Complete(int id);
VOXA_API int VOXA_CALL VOXA_Register_Complete_Message(VOXA_HWND window, unsigned int message);
VOXA_API int VOXA_CALL VOXA_Unregister_Complete_Message(void);
VOXA_API int VOXA_CALL VOXA_Get_CmdState(void);
VOXA_API int VOXA_CALL VOXA_Is_PreparedCmd(void);
VOXA_API int VOXA_CALL VOXA_Is_Busy(void);
VOXA_API int VOXA_CALL VOXA_Is_Complete(void);
VOXA_API int VOXA_CALL VOXA_Is_OnMotion(void);
VOXA_API int VOXA_CALL VOXA_Is_CompleteAxis(int mask);
VOXA_API int VOXA_CALL VOXA_Get_ScanTime(void);
VOXA_API int VOXA_CALL VOXA_Get_CurCmdPulse(void);
VOXA_API int VOXA_CALL VOXA_Get_CmdPulseMax(void);
VOXA_API int VOXA_CALL VOXA_Get_CurDelayTime(void);

#ifdef __cplusplus
}
#endif
#endif
