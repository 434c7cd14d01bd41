/* voxa_queue.h - Command queue, command mode, command IDs, waits and completion. Included by voxa.h.
 *
 * Commands are queued (the default: they wait in the host's soft queue, which
 * a 10 ms timer drains at the pace of the board's own queue) or immediate
 * (written to the link at once, ahead of anything queued). Command IDs are
 * 8 bits: VOXA_Set_CmdID(id) tags every following action command with
 * id & 0xFF, and the board reports an action's ID when it completes. An ID
 * reused while an earlier command with it is still queued makes their
 * completions indistinguishable: a wait for it ends at the first. Failure
 * value 0 unless noted. */
#ifndef VOXA_VOXA_QUEUE_H
#define VOXA_VOXA_QUEUE_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

/* ---- Command mode: Enter pushes the current mode and switches; Leave
 *      restores it. A pair must come from one thread and holds the board's
 *      command group lock meanwhile (other threads' Enter calls wait); pairs
 *      nest up to 1024 deep. ---- */
VOXA_API void VOXA_CALL VOXA_Enter_QueueCmd(void); /* queued mode until the matching Leave */
VOXA_API void VOXA_CALL VOXA_Leave_QueueCmd(void); /* restores the mode (an unmatched Leave leaves queued mode) */
VOXA_API void VOXA_CALL VOXA_Enter_ImCmd(void);    /* immediate mode until the matching Leave */
VOXA_API void VOXA_CALL VOXA_Leave_ImCmd(void);    /* restores the mode (an unmatched Leave stays immediate) */

/* ---- Queues ---- */
/* Allocates `size` bytes of soft queue: 1; 0 with -11 when storage is
 * already held (always, as the library holds 10 MiB from the start) or the
 * allocation fails. */
VOXA_API int VOXA_CALL VOXA_Reallocate_SoftQueue(int size);
VOXA_API int VOXA_CALL VOXA_Get_SoftQueueSize(void);      /* the soft queue's capacity in bytes (10485760) */
VOXA_API int VOXA_CALL VOXA_Get_SoftQueueLeftCmd(void);   /* frames waiting in the host's soft queue */
VOXA_API int VOXA_CALL VOXA_Get_EngineQueueLeftCmd(void); /* commands waiting in the board's queue, as last reported (CHIPSTATUS 1 bits 8-15) */
VOXA_API int VOXA_CALL VOXA_Get_CmdQueueLeftCmd(void);    /* the sum of the two */
VOXA_API int VOXA_CALL VOXA_Clr_Queue(void);              /* empties the soft queue, then the board's queue: 1 */

/* ---- Command IDs ---- */
/* Tags every following action command (and register write) with id & 0xFF;
 * VOXA_CMDID_NONE (0xFE) sends them untagged, so they report no completion.
 * Returns 1. */
VOXA_API int VOXA_CALL VOXA_Set_CmdID(int id);
VOXA_API int VOXA_CALL VOXA_Get_CmdID(void);      /* the current ID 0..255; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Get_ExeCmdID(void);   /* ID of the command the board executes, as last reported; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Get_ReadyCmdID(void); /* ID of the command ready to run next, as last reported; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_ProcCmdNo(int n); /* low 4 bits kept: CHIPSET 1 bits 28-31; 1 */
VOXA_API int VOXA_CALL VOXA_Get_ProcCmdNo(void);  /* 0..15; -1 on failure */
/* How full the board's queue may get before it reports busy: percent <= 37
 * stores 25, 38..62 50, 63..87 75, above 87 100. Returns 1. */
VOXA_API int VOXA_CALL VOXA_Set_BusySize(int percent);
VOXA_API int VOXA_CALL VOXA_Get_BusySize(void);   /* 25, 50, 75 or 100; -1 on failure */

/* ---- Synchronisation and waits ---- */
VOXA_API int VOXA_CALL VOXA_Sync(void);           /* a sync action in the command stream: 1 */
VOXA_API int VOXA_CALL VOXA_Is_Sync(void);        /* 0 or 1: the board reports itself synchronised (CHIPSTATUS 0 bit 2) */
VOXA_API void VOXA_CALL VOXA_Wait(void);          /* a wait action in the command stream; the host does not wait */
/* Blocks until the board reports command ID id & 0xFF complete
 * (VOXA_CMDID_ANY: any completion) or `timeout` ms pass: 1 completed, 0 at
 * the timeout (no error recorded). Needs completion reports switched on
 * (VOXA_Enable_CompleteStatePacket(1)); otherwise only VOXA_Notify_Complete
 * markers report. A completion reported since the command carrying the ID
 * was sent counts, even when it came before the call. The register
 * image may still hold the state from before the end: refresh it before
 * reading positions or status. */
VOXA_API int VOXA_CALL VOXA_WaitMotion(int id, uint32_t timeout);
/* How a command ended (extension). A completion report says that a command
 * ended, not that it reached its end: a host stop (VOXA_DecStop,
 * VOXA_ImStop, VOXA_EStop, VOXA_Cancel, VOXA_Reset, VOXA_Clr_Queue) that comes
 * after a command with an ID was sent and before the board reports that ID
 * complete marks the completion as stopped by the host. Limits, alarms and
 * the emergency-stop input are told by the status registers (see
 * VOXA_Refresh below). */
#define VOXA_COMPLETE_NONE      0 /* no completion: the wait timed out, or a close ended it */
#define VOXA_COMPLETE_ENDED     1 /* reported complete, and no host stop came in between */
#define VOXA_COMPLETE_HOST_STOP 2 /* reported complete after a host stop: stopped, not arrived */
/* VOXA_COMPLETE_... of the completion the last VOXA_WaitMotion on the
 * current board took (VOXA_COMPLETE_NONE after a timeout); -1 on failure. */
VOXA_API int VOXA_CALL VOXA_Get_WaitReason(void);
/* VOXA_COMPLETE_... of the last report of command ID id (0..255) since a
 * command carrying it was last sent, VOXA_COMPLETE_NONE when there is none
 * yet (for a message handler: lparam's low byte is the ID); -1 on failure,
 * -50 for an id outside 0..255. */
VOXA_API int VOXA_CALL VOXA_Get_CompleteReason(int id);
VOXA_API void VOXA_CALL VOXA_Sleep(uint32_t ms); /* no board: sleeps ms milliseconds */
VOXA_API int VOXA_CALL VOXA_Enable_Notify_Complete(int on); /* low 8 bits count: as VOXA_Enable_CompleteStatePacket; 1 */
/* A marker in the command stream: the board reports id & 0xFF complete once
 * everything before it has run (whatever the completion switch says);
 * VOXA_CMDID_NONE sends it untagged. Returns 1. */
VOXA_API int VOXA_CALL VOXA_Notify_Complete(int id);
/* Every completion the board reports goes to `window` as message `message`
 * through the message handler (VOXA_Set_MessageHandler), lparam's low byte
 * the ID. Returns 1. */
VOXA_API int VOXA_CALL VOXA_Register_Complete_Message(VOXA_HWND window, unsigned int message);
VOXA_API int VOXA_CALL VOXA_Unregister_Complete_Message(void); /* stops those messages: 1 */

/* ---- Execution status, as the board last reported it (CHIPSTATUS) ---- */
VOXA_API int VOXA_CALL VOXA_Get_CmdState(void);      /* command state 0..3 (word 0 bits 12-13); -1 on failure */
VOXA_API int VOXA_CALL VOXA_Is_PreparedCmd(void);    /* 0 or 1: a command is prepared (word 0 bit 15) */
VOXA_API int VOXA_CALL VOXA_Is_Busy(void);           /* 0 or 1: the board's queue is busy; queued frames wait (word 0 bit 0) */
VOXA_API int VOXA_CALL VOXA_Is_Complete(void);       /* 0 or 1 (word 0 bit 1) */
VOXA_API int VOXA_CALL VOXA_Is_OnMotion(void);       /* 0 or 1: axes are moving (word 0 bit 6) */
VOXA_API int VOXA_CALL VOXA_Is_CompleteAxis(int mask); /* 1 when every axis of the mask (low 8 bits) is complete; mask 0 gives 1 */
VOXA_API int VOXA_CALL VOXA_Get_ScanTime(void);      /* the board's scan time, 0..255 (word 1 bits 0-7) */
VOXA_API int VOXA_CALL VOXA_Get_CurCmdPulse(void);   /* the current command pulse count (word 3) */
VOXA_API int VOXA_CALL VOXA_Get_CmdPulseMax(void);   /* the maximum command pulse count (word 4) */
VOXA_API int VOXA_CALL VOXA_Get_CurDelayTime(void);  /* the current delay time, ms, 0..16777215 (word 5); -1 on failure */

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
 * command still queued before it carries. Each report ends one wait. One wait
 * per board is meaningful at a time: a second waiter on the same board takes
 * over the awaited ID. A close of the board ends a running VOXA_WaitMotion at
 * once with 0. */

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

/* The status registers, for VOXA_Refresh: 0x6004104A. */
#define VOXA_REFRESH_STATUS                                                                  \
  ((1u << VOXA_REG_CHIPSTATUS) | (1u << VOXA_REG_AXISSTATUS) | (1u << VOXA_REG_CURPOS) |     \
   (1u << VOXA_REG_ENCPOS) | (1u << VOXA_REG_CURVEL) | (1u << VOXA_REG_GIO) | (1u << VOXA_REG_EXTIO))

#ifdef __cplusplus
}
#endif
#endif
