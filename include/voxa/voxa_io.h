/* voxa_io.h - Servo I/O, general-purpose and extension I/O, comparators, PID, alarms, capture. Included by voxa.h. */
#ifndef VOXA_VOXA_IO_H
#define VOXA_VOXA_IO_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

/* The setup of one PID controller, packed to 30 bytes without gaps. The
 * library hands the bytes to the board as they are. */
#pragma pack(push, 1)
typedef struct VOXA_PID_SETUP {
  uint16_t param16[9]; /* bytes 0-17 */
  uint8_t param8[4];   /* bytes 18-21 */
  uint32_t param32;    /* bytes 22-25 */
  uint16_t tail16[2];  /* bytes 26-29 */
} VOXA_PID_SETUP;
#pragma pack(pop)

/* ---- Servo signals: per axis (mask bit i = axis i); getters read the
 *      lowest selected axis, axis 7 for an empty mask ---- */
VOXA_API int VOXA_CALL VOXA_Set_ServoOn(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoOn(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoReset(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoReset(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoEStop(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoEStop(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoUserOut(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoUserOut(int axes);

/* Active levels: 0 or 1. */
VOXA_API int VOXA_CALL VOXA_Set_ServoReadyLevel(int axes, int level);
VOXA_API int VOXA_CALL VOXA_Is_ServoReadyLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoInposLevel(int axes, int level);
VOXA_API int VOXA_CALL VOXA_Is_ServoInposLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoAlarmLevel(int axes, int level);
VOXA_API int VOXA_CALL VOXA_Is_ServoAlarmLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoUserInLevel(int axes, int level);
VOXA_API int VOXA_CALL VOXA_Is_ServoUserInLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoOnLevel(int axes, int level);
VOXA_API int VOXA_CALL VOXA_Is_ServoOnLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoResetLevel(int axes, int level);
VOXA_API int VOXA_CALL VOXA_Is_ServoResetLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoEStopLevel(int axes, int level);
VOXA_API int VOXA_CALL VOXA_Is_ServoEStopLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoUserOutLevel(int axes, int level);
VOXA_API int VOXA_CALL VOXA_Is_ServoUserOutLevel(int axes);

/* Signals the board handles by itself. */
VOXA_API int VOXA_CALL VOXA_Enable_ServoReadyAuto(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoReadyAuto(int axes);
VOXA_API int VOXA_CALL VOXA_Enable_ServoInposAuto(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoInposAuto(int axes);
VOXA_API int VOXA_CALL VOXA_Enable_ServoAlarmAuto(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoAlarmAuto(int axes);
VOXA_API int VOXA_CALL VOXA_Enable_ServoOnAuto(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoOnAuto(int axes);
VOXA_API int VOXA_CALL VOXA_Enable_ServoResetAuto(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoResetAuto(int axes);
VOXA_API int VOXA_CALL VOXA_Enable_ServoEStopAuto(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoEStopAuto(int axes);
VOXA_API int VOXA_CALL VOXA_Enable_ServoUserOutAuto(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoUserOutAuto(int axes);

/* Pulse time: stored as 1, 10, 100 or 500 (the next step up from t). */
VOXA_API int VOXA_CALL VOXA_Set_ServoPulseTime(int axes, int time);
VOXA_API int VOXA_CALL VOXA_Get_ServoPulseTime(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoOnMode(int axes, int mode); /* mode 0..3 */
VOXA_API int VOXA_CALL VOXA_Get_ServoOnMode(int axes);           /* -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_ServoInposAlarm(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_ServoInposAlarm(int axes);
/* One in-position time for the whole board (low 16 bits); axis ignored. */
VOXA_API int VOXA_CALL VOXA_Set_ServoInposTime(int axis, int time);
VOXA_API int VOXA_CALL VOXA_Get_ServoInposTime(int axis);

/* Input states as the board last reported them. */
VOXA_API int VOXA_CALL VOXA_Is_ServoReady(int axes);
VOXA_API int VOXA_CALL VOXA_Is_ServoInpos(int axes);
VOXA_API int VOXA_CALL VOXA_Is_ServoAlarm(int axes);
VOXA_API int VOXA_CALL VOXA_Is_ServoUserIn(int axes);

/* ---- General-purpose I/O ---- */
VOXA_API int VOXA_CALL VOXA_Get_GIn(void);
VOXA_API int VOXA_CALL VOXA_Get_GOut(void);
VOXA_API int VOXA_CALL VOXA_Set_GOut(int value);
/* Output-bit commands run by the board in its command stream. */
VOXA_API int VOXA_CALL VOXA_SetBit_GOut(int bits);
VOXA_API int VOXA_CALL VOXA_ClrBit_GOut(int bits);
VOXA_API int VOXA_CALL VOXA_Pulse_GOut(int bits);
VOXA_API int VOXA_CALL VOXA_Set_GIOUpCounter(int index, int value); /* index 0..1 */
VOXA_API int VOXA_CALL VOXA_Get_GIOUpCounter(int index);
VOXA_API int VOXA_CALL VOXA_Enable_GIOEncoder(int index, int flag);
VOXA_API int VOXA_CALL VOXA_Set_GIOEncoder(int index, int value);
VOXA_API int VOXA_CALL VOXA_Get_GIOEncoder(int index);
VOXA_API int VOXA_CALL VOXA_Get_ADC(int channel); /* channel 0..3 */
VOXA_API int VOXA_CALL VOXA_Set_PWM(int index, int period, int duty);
/* A zero count (also for an unknown index) is reported as error -50. */
VOXA_API int VOXA_CALL VOXA_Get_PWMPeriodCount(int index);
VOXA_API int VOXA_CALL VOXA_Get_PWMDutyCount(int index);
/* A wait for an I/O condition, run by the board in its command stream. */
VOXA_API unsigned int VOXA_CALL VOXA_Wait_GIO(unsigned int a, unsigned int b, unsigned int c, int d);
/* `pattern` holds 32 bytes for every started 256 bits of `bits`; it may be
 * null when `bits` is 0 or below (nothing is read). */
VOXA_API int VOXA_CALL VOXA_Set_GIOPattern(int bits, const uint8_t* pattern);
VOXA_API int VOXA_CALL VOXA_Clr_GIOPattern(int flag);

/* ---- Extension I/O ---- */
VOXA_API int VOXA_CALL VOXA_Enable_ExtIO(int flag);
VOXA_API int VOXA_CALL VOXA_Is_Enable_ExtIO(void);
VOXA_API int VOXA_CALL VOXA_Enable_ExtServoIO(int flag);
VOXA_API int VOXA_CALL VOXA_Get_ExtIO_Link_Status(int slot); /* the link bits 28-31 in place */
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link0(int slot);
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link1(int slot);
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link2(int slot);
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link3(int slot);
VOXA_API int VOXA_CALL VOXA_Reset_ExtIO(void);
VOXA_API int VOXA_CALL VOXA_EmgStop_ExtIO(void);
VOXA_API int VOXA_CALL VOXA_Restart_ExtIO(void);
VOXA_API int VOXA_CALL VOXA_Get_ExtIO(int word);
/* Words 3..7; words 0..2 are the board's and give 0 without an error. */
VOXA_API int VOXA_CALL VOXA_Set_ExtIO(int word, int value);
VOXA_API int VOXA_CALL VOXA_Get_ExtIO_MPG_Status(void);
VOXA_API int VOXA_CALL VOXA_Get_ExtIO_MPG_Count(void);

/* ---- Comparators (channel 0..3) ---- */
VOXA_API int VOXA_CALL VOXA_Enable_Comparator(int channel, int flag);
VOXA_API int VOXA_CALL VOXA_Set_PosComparator(int channel, int type, int axes, int position, int kind, int flag);
/* Channels 0..2: the second value goes to the next channel's data word. */
VOXA_API int VOXA_CALL VOXA_Set_PosComparatorX(int channel, int type, int axes, int position, int kind,
                                               int position2, int extra, int flag);

/* ---- PID controllers (0..3) ---- */
VOXA_API int VOXA_CALL VOXA_Off_PID(int pid);
VOXA_API int VOXA_CALL VOXA_Reset_PID(int pid);
VOXA_API int VOXA_CALL VOXA_Run_PID(int pid);
VOXA_API int VOXA_CALL VOXA_Set_PIDSV(int pid, int value);
VOXA_API int VOXA_CALL VOXA_Setup_PID(int pid, const VOXA_PID_SETUP* setup);
/* Asks the board for the setup and fills `setup` with its report after
 * 100 ms. */
VOXA_API int VOXA_CALL VOXA_Get_PID_Setup(int pid, VOXA_PID_SETUP* setup);
VOXA_API int VOXA_CALL VOXA_Is_PID_On(int pid);

/* ---- Alarms ---- */
VOXA_API int VOXA_CALL VOXA_Get_Alarm(void);
VOXA_API int VOXA_CALL VOXA_Get_AlarmOption(void);
VOXA_API void VOXA_CALL VOXA_Set_AlarmOption(int flags); /* 0x10, 0x400, 0x1000, 0x10000 */
VOXA_API void VOXA_CALL VOXA_Clr_AlarmOption(int flags);
VOXA_API void VOXA_CALL VOXA_Enable_StopRotateByAlarm(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_StopRotateByAlarm(int axes);

/* ---- Capture ---- */
VOXA_API int VOXA_CALL VOXA_Enable_CaptureMode(int flag, int mode); /* returns flag */
VOXA_API unsigned int VOXA_CALL VOXA_CaptureSync(unsigned int flag, unsigned int mode);
VOXA_API int VOXA_CALL VOXA_Is_CaptureMode(void);
VOXA_API unsigned int VOXA_CALL VOXA_Is_CaptureSync(void);
/* Clears the current board's capture ring: 10000, or 0 with no board id. */
VOXA_API int VOXA_CALL VOXA_Init_Capture(void);
VOXA_API int VOXA_CALL VOXA_Get_CaptureCnt(void);
/* index 0..9999 from the ring's start, -1 the newest entry; word 0..7. */
VOXA_API int VOXA_CALL VOXA_Get_Capture(int index, int word);

#ifdef __cplusplus
}
#endif
#endif
