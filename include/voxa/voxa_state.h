/* voxa_state.h - State packets, state timers, packet counters and messages. Included by voxa.h.
 *
 * The board keeps the register image current with packets it sends by
 * itself once asked: busy, complete, interrupt and event state packets when
 * something happens, and periodic state packets (the state timer) carrying
 * a chosen set of status registers. The switches live in CHIPSET words 0
 * and 1 of the register image; each change is sent as a register write.
 * Failure value 0 unless noted. */
#ifndef VOXA_VOXA_STATE_H
#define VOXA_VOXA_STATE_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

/* Packet switches: the bits of CHIPSET word 0 the Enable_...StatePacket
 * exports set (VOXA_Get_RegWord(VOXA_REG_CHIPSET, 0, ...)). */
#define VOXA_PACKET_BUSY      0x10000000u /* when the board becomes busy */
#define VOXA_PACKET_COMPLETE  0x20000000u /* when a tagged action completes: what VOXA_WaitMotion waits for */
#define VOXA_PACKET_INTERRUPT 0x40000000u /* when CHIPSTATUS word 0 bits 0-15 change */
#define VOXA_PACKET_EVENT     0x80000000u /* comparator events */

/* State-timer flags (VOXA_Set_StateTimer, VOXA_Clr_StateTimer,
 * VOXA_Is_StateTimer): one period (bits 0-3) or'ed with contents flags. */
#define VOXA_STATE_TIMER_OFF        0x1
#define VOXA_STATE_TIMER_25MS       0x2
#define VOXA_STATE_TIMER_50MS       0x3
#define VOXA_STATE_TIMER_100MS      0x4
#define VOXA_STATE_TIMER_200MS      0x5
#define VOXA_STATE_TIMER_250MS      0x6
#define VOXA_STATE_TIMER_500MS      0x7
#define VOXA_STATE_TIMER_1000MS     0x8
#define VOXA_STATE_TIMER_PERIOD     0xF      /* VOXA_Get_StateTimer: the period in ms */
#define VOXA_STATE_TIMER_AUX        0x200    /* CHIPSET word 1 bit 7 (carries no register) */
#define VOXA_STATE_TIMER_CHIPSTATUS 0x400    /* the packets carry CHIPSTATUS */
#define VOXA_STATE_TIMER_AXISSTATUS 0x800    /* ... AXISSTATUS */
#define VOXA_STATE_TIMER_CURPOS     0x1000   /* ... CURPOS */
#define VOXA_STATE_TIMER_ENCPOS     0x2000   /* ... ENCPOS */
#define VOXA_STATE_TIMER_CURVEL     0x4000   /* ... CURVEL */
#define VOXA_STATE_TIMER_IO         0x8000   /* ... GIO and EXTIO */
#define VOXA_STATE_TIMER_CUSTOM     0x2F0000 /* the custom state register (Get: its number; Clr, Is: its switch) */
/* Set: the packets also carry register r (0..14 or 31) as the custom state register. */
#define VOXA_STATE_TIMER_CUSTOM_REG(r) ((unsigned)((r) + 1) << 16)

/* Packet switches: flag nonzero switches the packet on (Busy: the whole
 * 32 bits count; the others only the low 8 bits, so 0x100 is off). 1. */
VOXA_API int VOXA_CALL VOXA_Enable_BusyStatePacket(int flag);
VOXA_API int VOXA_CALL VOXA_Enable_CompleteStatePacket(int flag); /* completion reports: VOXA_WaitMotion needs them */
VOXA_API int VOXA_CALL VOXA_Enable_InterruptStatePacket(int flag);
VOXA_API int VOXA_CALL VOXA_Enable_EventStatePacket(int flag);    /* comparator events */
VOXA_API int VOXA_CALL VOXA_Is_BusyStatePacket(void);             /* 0 or 1 as last set */
VOXA_API int VOXA_CALL VOXA_Is_CompleteStatePacket(void);
VOXA_API int VOXA_CALL VOXA_Is_InterruptStatePacket(void);
VOXA_API int VOXA_CALL VOXA_Is_EventStatePacket(void);
/* Packet counters: how many packets of each kind arrived (32-bit, kept
 * across close and reopen; never reset by the library). Set stores n. */
VOXA_API void VOXA_CALL VOXA_Set_BusyStatePacketCount(int n);
VOXA_API void VOXA_CALL VOXA_Set_CompleteStatePacketCount(int n);
VOXA_API void VOXA_CALL VOXA_Set_InterruptStatePacketCount(int n);
VOXA_API void VOXA_CALL VOXA_Set_EventStatePacketCount(int n);
VOXA_API int VOXA_CALL VOXA_Get_BusyStatePacketCount(void);       /* the count */
VOXA_API int VOXA_CALL VOXA_Get_CompleteStatePacketCount(void);
VOXA_API int VOXA_CALL VOXA_Get_InterruptStatePacketCount(void);
VOXA_API int VOXA_CALL VOXA_Get_EventStatePacketCount(void);
/* Period (VOXA_STATE_TIMER_OFF .. _1000MS; 0 or 9..15 leave it) and the
 * contents flags to add: 1; 0 when a custom register field names no
 * register (0x21..0x2F). */
VOXA_API int VOXA_CALL VOXA_Set_StateTimer(int flags);
/* VOXA_STATE_TIMER_PERIOD: the period in ms (0 off, 25 .. 1000);
 * VOXA_STATE_TIMER_CUSTOM: the custom state register 0..31; another
 * selector: -1 with -50. -1 on failure. */
VOXA_API int VOXA_CALL VOXA_Get_StateTimer(int selector);
/* Any period bits switch the timer off; contents flags are removed. 1. */
VOXA_API int VOXA_CALL VOXA_Clr_StateTimer(int flags);
/* 1 when the contents flag is on, else 0; ask one flag at a time (the last
 * flag given decides). */
VOXA_API int VOXA_CALL VOXA_Is_StateTimer(int flags);
/* Every comparator event (event state packet) goes to `window` as message
 * `message` through the message handler, lparam the packet's payload word. 1. */
VOXA_API int VOXA_CALL VOXA_Register_Comparator_Message(VOXA_HWND window, unsigned int message);
VOXA_API int VOXA_CALL VOXA_Unregister_Comparator_Message(void); /* stops those messages: 1 */

#ifdef __cplusplus
}
#endif
#endif
