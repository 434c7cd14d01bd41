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

/* ---- Servo signals (SERVOIO): per axis (mask bit i = axis i, low 8 bits
 *      count); setters change every selected axis and send one write
 *      (nothing for an empty mask), 1; queries read the lowest selected axis,
 *      axis 7 for an empty mask: 0 or 1, 0 on failure. Flags are on when
 *      nonzero. ---- */
/* Outputs. */
VOXA_API int VOXA_CALL VOXA_Set_ServoOn(int axes, int flag);       /* servo-on output */
VOXA_API int VOXA_CALL VOXA_Is_ServoOn(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoReset(int axes, int flag);    /* servo reset output */
VOXA_API int VOXA_CALL VOXA_Is_ServoReset(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoEStop(int axes, int flag);    /* servo emergency-stop output */
VOXA_API int VOXA_CALL VOXA_Is_ServoEStop(int axes);
VOXA_API int VOXA_CALL VOXA_Set_ServoUserOut(int axes, int flag);  /* user output */
VOXA_API int VOXA_CALL VOXA_Is_ServoUserOut(int axes);

/* Active levels: 0 or 1, anything else -50 with nothing changed or sent. */
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

/* Signals the board handles by itself (flag nonzero: automatic). */
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

/* Pulse time of the pulsed outputs, ms: stored as 1, 10, 100 or 500 (the
 * next step up from time). */
VOXA_API int VOXA_CALL VOXA_Set_ServoPulseTime(int axes, int time);
VOXA_API int VOXA_CALL VOXA_Get_ServoPulseTime(int axes);        /* 1, 10, 100 or 500 */
VOXA_API int VOXA_CALL VOXA_Set_ServoOnMode(int axes, int mode); /* servo-on mode 0..3 (else -50) */
VOXA_API int VOXA_CALL VOXA_Get_ServoOnMode(int axes);           /* 0..3; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_ServoInposAlarm(int axes, int flag); /* alarm on a missing in-position signal */
VOXA_API int VOXA_CALL VOXA_Is_ServoInposAlarm(int axes);
/* One in-position time for the whole board, ms (low 16 bits kept); axis ignored. */
VOXA_API int VOXA_CALL VOXA_Set_ServoInposTime(int axis, int time);
VOXA_API int VOXA_CALL VOXA_Get_ServoInposTime(int axis);        /* 0..65535 */

/* Input states as the board last reported them (AXISSTATUS). */
VOXA_API int VOXA_CALL VOXA_Is_ServoReady(int axes);
VOXA_API int VOXA_CALL VOXA_Is_ServoInpos(int axes);
VOXA_API int VOXA_CALL VOXA_Is_ServoAlarm(int axes);
VOXA_API int VOXA_CALL VOXA_Is_ServoUserIn(int axes);

/* ---- General-purpose I/O (GIO). Failure value 0; an index outside its
 *      range records -50 and changes and sends nothing. ---- */
VOXA_API int VOXA_CALL VOXA_Get_GIn(void);          /* the input word as last reported */
VOXA_API int VOXA_CALL VOXA_Get_GOut(void);         /* the output word as last set or reported */
VOXA_API int VOXA_CALL VOXA_Set_GOut(int value);    /* writes the whole output word at once (a register write): 1 */
/* Output-bit commands run by the board in its command stream, in order
 * with the queued commands (GOut's image is not touched): 1. */
VOXA_API int VOXA_CALL VOXA_SetBit_GOut(int bits);  /* sets the output bits given */
VOXA_API int VOXA_CALL VOXA_ClrBit_GOut(int bits);  /* clears them */
VOXA_API int VOXA_CALL VOXA_Pulse_GOut(int bits);   /* pulses them */
VOXA_API int VOXA_CALL VOXA_Set_GIOUpCounter(int index, int value); /* up counter index 0..1 := value, low 16 bits kept */
VOXA_API int VOXA_CALL VOXA_Get_GIOUpCounter(int index);            /* 0..65535 */
VOXA_API int VOXA_CALL VOXA_Enable_GIOEncoder(int index, int flag); /* encoder input index 0..1 on or off */
VOXA_API int VOXA_CALL VOXA_Set_GIOEncoder(int index, int value);   /* encoder count index 0..1 (low 16 bits of index checked) */
VOXA_API int VOXA_CALL VOXA_Get_GIOEncoder(int index);              /* the count (EXTIO word index), index 0..1 */
VOXA_API int VOXA_CALL VOXA_Get_ADC(int channel); /* channel 0..3: 0..65535 as last reported */
/* PWM output index 0..1 (low 16 bits of index checked): period and duty
 * counts, low 16 bits of each kept. */
VOXA_API int VOXA_CALL VOXA_Set_PWM(int index, int period, int duty);
/* A zero count (also for an unknown index) is reported as error -50. */
VOXA_API int VOXA_CALL VOXA_Get_PWMPeriodCount(int index);
VOXA_API int VOXA_CALL VOXA_Get_PWMDutyCount(int index);
/* A wait for an I/O condition (operands a, b, c, d; their meaning is the
 * board's), run by the board in its command stream; the host does not wait. 1. */
VOXA_API unsigned int VOXA_CALL VOXA_Wait_GIO(unsigned int a, unsigned int b, unsigned int c, int d);
/* An output pattern of `bits` bits: `pattern` holds 32 bytes for every
 * started 256 bits; it may be null when `bits` is 0 or below (nothing is
 * read). 1. */
VOXA_API int VOXA_CALL VOXA_Set_GIOPattern(int bits, const uint8_t* pattern);
VOXA_API int VOXA_CALL VOXA_Clr_GIOPattern(int flag); /* ends the pattern; output bit 0 set (flag nonzero) or cleared. 1 */

/* ---- Extension I/O ---- */
VOXA_API int VOXA_CALL VOXA_Enable_ExtIO(int flag);           /* the extension I/O link on or off: 1 */
VOXA_API int VOXA_CALL VOXA_Is_Enable_ExtIO(void);            /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Enable_ExtServoIO(int flag);      /* servo I/O over the extension link: 1 */
VOXA_API int VOXA_CALL VOXA_Get_ExtIO_Link_Status(int slot);  /* slot 0..7: the link bits 28-31 in place, as last reported */
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link0(int slot);         /* slot 0..7: 0 or 1, link bit 28 */
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link1(int slot);         /* bit 29 */
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link2(int slot);         /* bit 30 */
VOXA_API int VOXA_CALL VOXA_Is_ExtIO_Link3(int slot);         /* bit 31 */
VOXA_API int VOXA_CALL VOXA_Reset_ExtIO(void);                /* extension I/O control code 1 (reset): 1 */
VOXA_API int VOXA_CALL VOXA_EmgStop_ExtIO(void);              /* control code 2 (emergency stop): 1 */
VOXA_API int VOXA_CALL VOXA_Restart_ExtIO(void);              /* control code 3 (restart): 1 */
VOXA_API int VOXA_CALL VOXA_Get_ExtIO(int word);              /* EXTIO word 0..7 (0..3 as last reported) */
/* Words 3..7 := value: 1; words 0..2 are the board's and give 0 without an error. */
VOXA_API int VOXA_CALL VOXA_Set_ExtIO(int word, int value);
VOXA_API int VOXA_CALL VOXA_Get_ExtIO_MPG_Status(void);       /* hand-wheel status 0..65535, as last reported */
VOXA_API int VOXA_CALL VOXA_Get_ExtIO_MPG_Count(void);        /* hand-wheel count 0..65535, as last reported */

/* ---- Comparators (channel 0..3, else -50). Events reach the host as event
 *      state packets (VOXA_Register_Comparator_Message). ---- */
VOXA_API int VOXA_CALL VOXA_Enable_Comparator(int channel, int flag); /* low 8 bits of flag count: 1 */
/* Compares the lowest axis of `axes` with `position` (type 1: axis against
 * position; type 2: position against axis; other types leave the operands),
 * kind 0..2 (others leave it), and switches event state packets on or off
 * with `flag`. Several register writes; 1. */
VOXA_API int VOXA_CALL VOXA_Set_PosComparator(int channel, int type, int axes, int position, int kind, int flag);
/* As VOXA_Set_PosComparator, plus a second position (channels 0..2: it goes
 * to the next channel's data word) and an extra byte. */
VOXA_API int VOXA_CALL VOXA_Set_PosComparatorX(int channel, int type, int axes, int position, int kind,
                                               int position2, int extra, int flag);

/* ---- PID controllers (pid 0..3, else -50); 1 ---- */
VOXA_API int VOXA_CALL VOXA_Off_PID(int pid);
VOXA_API int VOXA_CALL VOXA_Reset_PID(int pid);
VOXA_API int VOXA_CALL VOXA_Run_PID(int pid);
VOXA_API int VOXA_CALL VOXA_Set_PIDSV(int pid, int value);   /* set value, low 16 bits kept */
VOXA_API int VOXA_CALL VOXA_Setup_PID(int pid, const VOXA_PID_SETUP* setup); /* sends the setup and keeps it for configuration files */
/* Asks the board for the setup and fills `setup` with what the image holds
 * 100 ms later (the board's report, if it came). */
VOXA_API int VOXA_CALL VOXA_Get_PID_Setup(int pid, VOXA_PID_SETUP* setup);
VOXA_API int VOXA_CALL VOXA_Is_PID_On(int pid);              /* 0 or 1 as last reported */

/* ---- Alarms ---- */
VOXA_API int VOXA_CALL VOXA_Get_Alarm(void);                  /* the board's alarm code 0..65535, as last reported; 0 none */
VOXA_API int VOXA_CALL VOXA_Get_AlarmOption(void);            /* the options set, as flags below */
VOXA_API void VOXA_CALL VOXA_Set_AlarmOption(int flags);      /* any of 0x10, 0x400, 0x1000, 0x10000 (others ignored); one write each */
VOXA_API void VOXA_CALL VOXA_Clr_AlarmOption(int flags);      /* clears them */
VOXA_API void VOXA_CALL VOXA_Enable_StopRotateByAlarm(int axes, int flag); /* an alarm stops the axis's rotation */
VOXA_API int VOXA_CALL VOXA_Is_StopRotateByAlarm(int axes);   /* 0 or 1 */

/* ---- Capture: the board reports captured words into a host ring of 10000
 *      entries of eight words ---- */
VOXA_API int VOXA_CALL VOXA_Enable_CaptureMode(int flag, int mode); /* flag (low 8 bits) on with mode 0..3 (low 2 bits kept), or off: returns flag */
VOXA_API unsigned int VOXA_CALL VOXA_CaptureSync(unsigned int flag, unsigned int mode); /* the same: 1 */
VOXA_API int VOXA_CALL VOXA_Is_CaptureMode(void);             /* 0 or 1: capture on (CHIPSET 4 bit 4 or 5) */
VOXA_API unsigned int VOXA_CALL VOXA_Is_CaptureSync(void);    /* the same */
/* Clears the current board's capture ring: 10000, or 0 with no board id. */
VOXA_API int VOXA_CALL VOXA_Init_Capture(void);
VOXA_API int VOXA_CALL VOXA_Get_CaptureCnt(void);             /* captured entries */
/* index 0..9999 from the ring's start (above: 9999), -1 the newest, -2 the
 * one before ...; word 0..7 (else 0). 0 when nothing was captured. */
VOXA_API int VOXA_CALL VOXA_Get_Capture(int index, int word);

#ifdef __cplusplus
}
#endif
#endif
