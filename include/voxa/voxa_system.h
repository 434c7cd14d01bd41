/* voxa_system.h - System control: execution, stops, delays, baud rates, board-wide modes. Included by voxa.h.
 *
 * Setters change bits of the register image (CHIPSET unless noted) and send
 * one register write, queued or immediate by the command mode; they return 1
 * once the board guard passed (whether or not the write could be queued),
 * 0 on failure. A flag or mode argument is on when nonzero unless a range is
 * given. Getters answer from the register image and send nothing; their
 * failure value is 0 unless noted. */
#ifndef VOXA_VOXA_SYSTEM_H
#define VOXA_VOXA_SYSTEM_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

/* ---- Board-wide modes ---- */
VOXA_API int VOXA_CALL VOXA_Set_InterruptMode(int mode);          /* mode 0 or 1 (else -50, nothing sent): CHIPSET 0 bit 13 */
VOXA_API int VOXA_CALL VOXA_Get_InterruptMode(void);              /* 0 or 1; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_ExtEmgStopMode(int mode);         /* mode 0 or 1 (else -50): external emergency-stop input mode, CHIPSET 0 bit 17 */
VOXA_API int VOXA_CALL VOXA_Get_ExtEmgStopMode(void);             /* 0 or 1; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_IEndComp(int on);              /* CHIPSET 0 bit 5 */
VOXA_API int VOXA_CALL VOXA_Is_IEndComp(void);                    /* 0 or 1 as last set */
VOXA_API int VOXA_CALL VOXA_Enable_StepExe(int on);               /* single-step execution (CHIPSET 0 bit 3, tag 0xD3) */
VOXA_API int VOXA_CALL VOXA_Is_StepExe(void);                     /* 0 or 1 as the board last reported it (CHIPSTATUS 0 bit 3) */
/* The board's main-port rate in bit/s: 115200, 230400, 460800 or 921600;
 * another value returns 0 with no error and sends nothing. The board takes
 * it on VOXA_Update_Baudrate. */
VOXA_API int VOXA_CALL VOXA_Set_MainBaudrate(int baud);
VOXA_API int VOXA_CALL VOXA_Get_MainBaudrate(void);               /* one of the four rates */
VOXA_API int VOXA_CALL VOXA_Set_AuxBaudrate(int baud);            /* the auxiliary port, as VOXA_Set_MainBaudrate */
VOXA_API int VOXA_CALL VOXA_Get_AuxBaudrate(void);                /* one of the four rates */
VOXA_API int VOXA_CALL VOXA_Enable_AuxPortStateTimer(int on);     /* periodic state packets also on the auxiliary port (CHIPSET 1 bit 13) */
VOXA_API int VOXA_CALL VOXA_Enable_AuxPortStatePacket(int on);    /* event-driven state packets also on the auxiliary port (bit 14) */
VOXA_API int VOXA_CALL VOXA_Enable_AuxPortAllCommand(int on);     /* the auxiliary port takes every command (bit 15) */
VOXA_API int VOXA_CALL VOXA_Enable_RestrictedImCmd(int on);       /* low 8 bits count: CHIPSET 1 bit 24 */
VOXA_API int VOXA_CALL VOXA_Is_RestrictedImCmd(void);             /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Set_VelMode3StartMode(int on);        /* low 8 bits count: start mode of velocity mode 3 (CHIPSET 1 bit 26) */
VOXA_API int VOXA_CALL VOXA_Get_VelMode3StartMode(void);          /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_MainLinkAlarmOn(int on);              /* low 8 bits count: the board alarms when the main link drops (CHIPSET 1 bit 27) */
VOXA_API int VOXA_CALL VOXA_Is_MainLinkAlarmOn(void);             /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Set_InportMode(int mode);             /* mode 0..3 (higher bits dropped): CHIPSET 3 bits 8-9 */
VOXA_API int VOXA_CALL VOXA_Get_InportMode(void);                 /* 0..3 */
VOXA_API int VOXA_CALL VOXA_Set_OutportMode(int mode);            /* mode 0..3 (higher bits dropped): CHIPSET 3 bits 10-11 */
VOXA_API int VOXA_CALL VOXA_Get_OutportMode(void);                /* 0..3 */
VOXA_API int VOXA_CALL VOXA_Set_GIOMap(int map);                  /* low 8 bits kept: CHIPSET 3 bits 24-31 */
VOXA_API int VOXA_CALL VOXA_Get_GIOMap(void);                     /* 0..255 */
VOXA_API int VOXA_CALL VOXA_Set_ImStopDec(int value);             /* deceleration of an immediate stop, low 16 bits kept (VELAUXSET 1) */
VOXA_API int VOXA_CALL VOXA_Get_ImStopDec(void);                  /* 0..65535; -1 on failure */

/* ---- Execution control: 1 once the board guard passed ----
 * Stops, pause and cancel carry tag 0xD3 and never report completion. */
VOXA_API int VOXA_CALL VOXA_Reset(void);           /* clears the soft queue, then an immediate clear of the board's queue and a board reset */
VOXA_API int VOXA_CALL VOXA_Enable_Exe(void);      /* lets the board execute commands */
VOXA_API int VOXA_CALL VOXA_AlarmReset(void);      /* clears the board's alarm and a latched emergency stop */
VOXA_API int VOXA_CALL VOXA_Resume(void);          /* resumes after VOXA_Pause */
VOXA_API int VOXA_CALL VOXA_Update_Baudrate(void); /* the board switches to the rates set with VOXA_Set_Main/AuxBaudrate */
VOXA_API int VOXA_CALL VOXA_Pause(void);           /* the running move decelerates and holds; the queue waits */
VOXA_API int VOXA_CALL VOXA_Cancel(void);          /* the running command decelerates and ends; the queue goes on */
VOXA_API int VOXA_CALL VOXA_ImStop(void);          /* everything halts at once and the board's queue is emptied */
VOXA_API int VOXA_CALL VOXA_DecStop(void);         /* everything decelerates to a halt and the board's queue is emptied */
VOXA_API int VOXA_CALL VOXA_EStop(int flag);       /* nonzero: as VOXA_ImStop; 0: as VOXA_DecStop */
/* Continuous execution: sets or clears CHIPSET 0 bit 4 in the image and
 * sends an action (on/off) tagged with the command ID; no register write. */
VOXA_API int VOXA_CALL VOXA_Enable_CExe(int on);
VOXA_API int VOXA_CALL VOXA_Is_CExe(void);         /* 0 or 1 as last set */
/* A pause in the command stream of t milliseconds, run by the board
 * (CAL0 word 0; the board uses bits 0-23), tagged with the command ID. */
VOXA_API int VOXA_CALL VOXA_Delay(int t);
/* An extended delay: CAL0 words 0..4 := p1, p2 | 0x800C0000,
 * (p4 << 16) | (p3 & 0xFF), p5, p6; the meaning of the words is the board's. */
VOXA_API int VOXA_CALL VOXA_XDelay(int p1, int p2, int p3, int p4, int p5, int p6);

/* ---- Execution state, as the board last reported it (CHIPSTATUS word 0):
 *      0 or 1, 0 on failure ---- */
VOXA_API int VOXA_CALL VOXA_Is_EStop(void);        /* halted by an emergency stop (bits 4 and 7) */
VOXA_API int VOXA_CALL VOXA_Is_Pause(void);        /* halted by a pause (bit 4 without bit 7) */
VOXA_API int VOXA_CALL VOXA_Is_Alarm(void);        /* an alarm is raised (bit 7; the code: VOXA_Get_Alarm) */
VOXA_API int VOXA_CALL VOXA_Is_EmgExe(void);       /* halted, for either reason (bit 4) */
VOXA_API int VOXA_CALL VOXA_Is_EnableExe(void);    /* execution is enabled (bit 5) */

#ifdef __cplusplus
}
#endif
#endif
