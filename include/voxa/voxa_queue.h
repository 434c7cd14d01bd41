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

/* Command IDs and waits. A command ID is 8 bits: VOXA_Set_CmdID keeps id & 0xFF
 * and every following action command and register write carries it; 0xFE
 * means none (no tag byte) and 0xFF, for VOXA_WaitMotion, any completion, so
 * 0..253 name commands. VOXA_WaitMotion(id, ms) returns 1 only when the board
 * reports a command with that ID complete, which it does only while its
 * complete state packets are on (VOXA_Enable_CompleteStatePacket(1) or
 * VOXA_Enable_Notify_Complete(1)); otherwise the wait runs to its timeout.
 * VOXA_Notify_Complete(id) asks for a report once everything queued before it
 * has run, whatever the switch says. The library remembers a report of an ID
 * from the moment a command carrying that ID is sent, so a wait that starts
 * after the report still returns 1. Reusing an ID in one stream: a wait for it
 * ends at the first report after the last command carrying it was sent, which
 * may be an earlier command's; give the command waited for an ID that no
 * command still queued before it carries. One wait per board is meaningful at
 * a time: a second waiter on the same board takes over the awaited ID. A close
 * does not end a running VOXA_WaitMotion; it returns 0 at its timeout. */

/* Fresh state on request (extension). Bit r of registers asks for register r
 * (0 CHIPSET ... 31 CUSTOM). Sends at once, whatever the command mode, one
 * read request per asked register (all eight words, tag 0xFC, so that the
 * answers are told apart from the library's periodic polls, tag 0xFD) and
 * returns 1 once the board has answered every one of them: the getters of
 * those registers then show the board's state at or after the call. Returns 0
 * when timeout_ms (milliseconds, 0 allowed) passes first, when a request could
 * not be sent, or when the board is closed meanwhile; like a wait, that leaves
 * the error state untouched. Fails with 0 and VOXA_ERR_ARGUMENT (-50) for an
 * empty mask or a negative timeout. Only the registers the board reports
 * reach the register image (CHIPSTATUS, AXISSTATUS, CURPOS, ENCPOS, CURVEL,
 * FEEDBACK, CUSTOM, words 0..3 of GIO and EXTIO); the settings registers keep
 * the host's values. Safe from several threads at once.
 *
 * After a wait, refresh before reading the status:
 *     if (VOXA_WaitMotion(1, 10000) && VOXA_Refresh(VOXA_REFRESH_STATUS, 500)) ...
 * then VOXA_Get_CurPos, VOXA_Is_Alarm, VOXA_Get_Alarm (the alarm code), VOXA_Is_EStop,
 * VOXA_Is_LimitL/H and VOXA_Is_AlarmAxis tell a command that reached its
 * target from one that a limit, an alarm or an emergency stop ended. */
VOXA_API int VOXA_CALL VOXA_Refresh(unsigned int registers, int timeout_ms);

/* The status registers: CHIPSTATUS (1), AXISSTATUS (3), CURPOS (6),
 * ENCPOS (12), CURVEL (18), GIO (29) and EXTIO (30). */
#define VOXA_REFRESH_STATUS 0x6004104Au

#ifdef __cplusplus
}
#endif
#endif
