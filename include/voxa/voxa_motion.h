/* voxa_motion.h - Axis output, limits, velocity profile, positions, motion commands, home return. Included by voxa.h.
 *
 * `axes` is an axis mask: bit i selects axis i (bits above 7 are ignored).
 * Per-axis setters apply one value to every selected axis and send one
 * register write (nothing for an empty mask, still 1). Per-axis getters
 * read the lowest selected axis, axis 7 for an empty mask. `values` points
 * to eight values indexed by axis; only the entries of the selected axes
 * are read. Setters and commands return 1 once the board guard and the
 * argument checks passed (whether or not the command could be queued),
 * 0 on failure; an argument outside its range records -50 and changes and
 * sends nothing. Getters answer from the register image (the host's
 * settings, or the board's last report for status) and return 0 on failure
 * unless noted. Flags are on when nonzero.
 *
 * Units: positions in pulses (signed 32-bit); velocities in pulses per
 * second; accelerations in pulses per second per millisecond (1000 pulses/s²),
 * both scaled on the board by the velocity multiplier; times in ms. The
 * library passes values to the board without conversion. */
#ifndef VOXA_VOXA_MOTION_H
#define VOXA_VOXA_MOTION_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

/* ---- Pulse output (AXISSET) ---- */
VOXA_API int VOXA_CALL VOXA_Set_PulseMode(int axes, int mode);    /* pulse output mode 0..2 */
VOXA_API int VOXA_CALL VOXA_Get_PulseMode(int axes);              /* 0..2; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_PulseLevel(int axes, int level);  /* active level of the pulse output, 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Get_PulseLevel(int axes);             /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Set_DirLevel(int axes, int level);    /* active level of the direction output, 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Get_DirLevel(int axes);               /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Set_CwLevel(int axes, int level);     /* the same as VOXA_Set_PulseLevel */
VOXA_API int VOXA_CALL VOXA_Get_CwLevel(int axes);                /* the same as VOXA_Get_PulseLevel */
VOXA_API int VOXA_CALL VOXA_Set_CcwLevel(int axes, int level);    /* the same as VOXA_Set_DirLevel */
VOXA_API int VOXA_CALL VOXA_Get_CcwLevel(int axes);               /* the same as VOXA_Get_DirLevel */
VOXA_API int VOXA_CALL VOXA_Set_AxisPulseWidth(int code);         /* pulse width code for all axes, low 3 bits kept (0..7) */
VOXA_API int VOXA_CALL VOXA_Get_AxisPulseWidth(void);             /* 0..7 */

/* ---- Limits ---- */
VOXA_API int VOXA_CALL VOXA_Enable_LowerLimit(int axes, int flag);  /* hardware lower limit switch; low 8 bits of flag count */
VOXA_API int VOXA_CALL VOXA_Enable_UpperLimit(int axes, int flag);  /* hardware upper limit switch; low 8 bits count */
VOXA_API int VOXA_CALL VOXA_IsEnable_LowerLimit(int axes);          /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_IsEnable_UpperLimit(int axes);          /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Set_LowerLimitLevel(int axes, int flag); /* active level of the lower limit input: 1 for nonzero */
VOXA_API int VOXA_CALL VOXA_Set_UpperLimitLevel(int axes, int flag); /* active level of the upper limit input */
VOXA_API int VOXA_CALL VOXA_Get_LowerLimitLevel(int axes);          /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Get_UpperLimitLevel(int axes);          /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Enable_SoftLowerLimit(int axes, int flag); /* stop at the soft lower limit */
VOXA_API int VOXA_CALL VOXA_Enable_SoftUpperLimit(int axes, int flag); /* stop at the soft upper limit */
VOXA_API int VOXA_CALL VOXA_IsEnable_SoftLowerLimit(int axes);      /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_IsEnable_SoftUpperLimit(int axes);      /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Set_SoftLowerLimit(int axes, int position); /* soft lower limit, pulses */
VOXA_API int VOXA_CALL VOXA_Set_SoftUpperLimit(int axes, int position); /* soft upper limit, pulses */
VOXA_API int VOXA_CALL VOXA_Get_SoftLowerLimit(int axes);           /* pulses */
VOXA_API int VOXA_CALL VOXA_Get_SoftUpperLimit(int axes);           /* pulses */
/* Mode 0..3: 0 switches both soft limits off (the stored mode stays);
 * 1..3 store a soft-limit mode. */
VOXA_API int VOXA_CALL VOXA_Set_SoftLimitMode(int axes, int mode);
VOXA_API int VOXA_CALL VOXA_Get_SoftLimitMode(int axes);            /* the stored mode 1..3 (0 for a field the host never writes); -1 on failure */

/* ---- Axis status, as the board last reported it (AXISSTATUS): 0 or 1 ---- */
VOXA_API int VOXA_CALL VOXA_Is_LimitL(int axes);        /* lower limit input active */
VOXA_API int VOXA_CALL VOXA_Is_LimitH(int axes);        /* upper limit input active */
VOXA_API int VOXA_CALL VOXA_Is_SoftLimitL(int axes);    /* soft lower limit reached */
VOXA_API int VOXA_CALL VOXA_Is_SoftLimitH(int axes);    /* soft upper limit reached */
VOXA_API int VOXA_CALL VOXA_Is_CW(int axes);            /* the direction bit is clear: clockwise */
VOXA_API int VOXA_CALL VOXA_Is_CCW(int axes);           /* the direction bit is set: counter-clockwise */
VOXA_API int VOXA_CALL VOXA_Is_AlarmAxis(int axes);     /* the axis is in alarm */
VOXA_API int VOXA_CALL VOXA_Is_PositionAlarm(int axes); /* position alarm */

/* ---- Velocity mode and state ---- */
VOXA_API int VOXA_CALL VOXA_Set_VelMode(int mode);                /* board-wide velocity mode 0..3 */
VOXA_API int VOXA_CALL VOXA_Get_VelMode(void);                    /* 0..3; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_VelModeAxis(int axes, int mode);  /* per-axis velocity mode 0..2 */
VOXA_API int VOXA_CALL VOXA_Get_VelModeAxis(int axes);            /* 0..3 */
VOXA_API int VOXA_CALL VOXA_Get_VelState(void);                   /* velocity state 0..3 as last reported */
VOXA_API int VOXA_CALL VOXA_Get_VelStateAxis(int axes);           /* the axis's velocity state 0..3 as last reported */

/* ---- Velocities and accelerations ----
 * 16-bit values: a setter keeps the low 16 bits of `value`, a getter returns
 * 0..65535. The board-wide value is word 0 bits 16-31 of the register, an
 * axis's own value bits 0-15 of its word. Velocities in pulses/s,
 * accelerations in (pulses/s)/ms. */
VOXA_API int VOXA_CALL VOXA_Set_StartVel(int value);              /* board-wide start velocity */
VOXA_API int VOXA_CALL VOXA_Get_StartVel(void);
VOXA_API int VOXA_CALL VOXA_Set_StartVelAxis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_StartVelAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Set_DriveVel(int value);              /* board-wide drive (path) velocity */
VOXA_API int VOXA_CALL VOXA_Get_DriveVel(void);
VOXA_API int VOXA_CALL VOXA_Set_DriveVelAxis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_DriveVelAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Get_CurVel(void);                     /* board-wide (path) velocity as last reported */
VOXA_API int VOXA_CALL VOXA_Get_CurVelAxis(int axes);             /* the axis's velocity as last reported */
VOXA_API int VOXA_CALL VOXA_Set_Acc(int value);                   /* board-wide acceleration */
VOXA_API int VOXA_CALL VOXA_Get_Acc(void);
VOXA_API int VOXA_CALL VOXA_Set_AccAxis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_AccAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Set_Dec(int value);                   /* board-wide deceleration */
VOXA_API int VOXA_CALL VOXA_Get_Dec(void);
VOXA_API int VOXA_CALL VOXA_Set_DecAxis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_DecAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Set_Acc2(int value);                  /* second acceleration */
VOXA_API int VOXA_CALL VOXA_Get_Acc2(void);
VOXA_API int VOXA_CALL VOXA_Set_Acc2Axis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_Acc2Axis(int axes);
VOXA_API int VOXA_CALL VOXA_Set_Dec2(int value);                  /* second deceleration */
VOXA_API int VOXA_CALL VOXA_Get_Dec2(void);
VOXA_API int VOXA_CALL VOXA_Set_Dec2Axis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_Dec2Axis(int axes);

/* ---- Multiplier, constant linear velocity, overrides ---- */
VOXA_API int VOXA_CALL VOXA_Set_VelMultiplier(int value);         /* 1, 2, 4, 8, 16 or 32: velocities and accelerations times value */
VOXA_API int VOXA_CALL VOXA_Get_VelMultiplier(void);              /* the multiplier, 1 until set */
VOXA_API int VOXA_CALL VOXA_Enable_CLV(int flag);                 /* constant linear velocity on or off (an action, tagged with the command ID) */
VOXA_API int VOXA_CALL VOXA_Is_CLV(void);                         /* 0 or 1 as last set */
VOXA_API int VOXA_CALL VOXA_Set_CLVAxis(int axes);                /* the axes of constant linear velocity, low 8 bits */
VOXA_API int VOXA_CALL VOXA_Get_CLVAxis(void);                    /* the mask 0..255 */
/* Overrides: value above 0 (else -50); larger values store the maximum. */
VOXA_API int VOXA_CALL VOXA_Set_VelOverride(int value);           /* at most 60000 is stored */
VOXA_API int VOXA_CALL VOXA_Get_VelOverride(void);                /* 0..60000 */
VOXA_API int VOXA_CALL VOXA_Set_VelOverride2(int value);          /* at most 60000 is stored */
VOXA_API int VOXA_CALL VOXA_Get_VelOverride2(void);
VOXA_API int VOXA_CALL VOXA_Set_S1VelOverride(int value);         /* at most 10000 is stored */
VOXA_API int VOXA_CALL VOXA_Get_S1VelOverride(void);
VOXA_API int VOXA_CALL VOXA_Set_S2VelOverride(int value);         /* at most 10000 is stored */
VOXA_API int VOXA_CALL VOXA_Get_S2VelOverride(void);
VOXA_API int VOXA_CALL VOXA_Lock_VelOverride(void);               /* the board holds the overrides (an action) */
VOXA_API int VOXA_CALL VOXA_Unlock_VelOverride(void);             /* releases them (an action) */
VOXA_API int VOXA_CALL VOXA_Is_Lock_VelOverride(void);            /* 0 or 1 as the board reported it (needs CHIPSET as custom state register) */

/* ---- Dwell, control rate, convergence, feed-forward, auto transition ---- */
VOXA_API int VOXA_CALL VOXA_Set_DwellTime(int value);             /* board-wide dwell time, low 16 bits kept */
VOXA_API int VOXA_CALL VOXA_Get_DwellTime(void);                  /* 0..65535; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_DwellTimeAxis(int axes, int flag); /* use the axis's own dwell time */
VOXA_API int VOXA_CALL VOXA_Set_DwellTimeAxis(int axes, int value); /* the axis's dwell time, low 16 bits kept */
VOXA_API int VOXA_CALL VOXA_Get_DwellTimeAxis(int axes);          /* bits 0-13 of it: 0..16383; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_VelCtrlHz(int value);             /* velocity control rate, low 16 bits kept */
VOXA_API int VOXA_CALL VOXA_Get_VelCtrlHz(void);                  /* 0..65535; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_VelForceConvergence(int flag); /* force convergence of the velocity */
VOXA_API int VOXA_CALL VOXA_Is_VelForceConvergence(void);         /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Enable_FFC(int flag);                 /* feed-forward control */
VOXA_API int VOXA_CALL VOXA_Is_FFC(void);                         /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Set_FFC_PMax(int value);              /* feed-forward limit: above 1000 stores 1000; low 16 bits kept */
VOXA_API int VOXA_CALL VOXA_Enable_VelPosAutoTransition(int axes, int flag); /* automatic velocity-to-position transition */
VOXA_API int VOXA_CALL VOXA_Is_VelPosAutoTransition(int axes);    /* 0 or 1 */

/* ---- Positions, gearing, backlash ---- */
VOXA_API int VOXA_CALL VOXA_Set_CurPos(int axes, int position);   /* sets the command position, pulses */
VOXA_API int VOXA_CALL VOXA_Get_CurPos(int axes);                 /* command position as last reported (or set), pulses */
VOXA_API int VOXA_CALL VOXA_Set_EncPos(int axes, int position);   /* sets the encoder position, pulses */
VOXA_API int VOXA_CALL VOXA_Get_EncPos(int axes);                 /* encoder position as last reported (or set), pulses */
VOXA_API int VOXA_CALL VOXA_Get_EncZCount(int axes);              /* encoder Z count 0..65535 (FEEDBACK, from the board's polls); -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_GearRatio(int axes, int ratio);   /* gear ratio, the whole 32-bit word */
VOXA_API int VOXA_CALL VOXA_Get_GearRatio(int axes);              /* the ratio; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_Backlash(int axes, int flag);  /* backlash compensation; low 8 bits count (no query) */
VOXA_API int VOXA_CALL VOXA_Set_Backlash(int axes, int amount);   /* backlash, pulses, low 16 bits kept */
VOXA_API int VOXA_CALL VOXA_Get_Backlash(int axes);               /* bits 0-13 of it: 0..16383 */
VOXA_API int VOXA_CALL VOXA_Set_PosMode(int flag);                /* position mode 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Get_PosMode(void);                    /* 0 or 1; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_PosDispMode(int flag);            /* position display mode 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Get_PosDispMode(void);                /* 0 or 1; -1 on failure */

/* ---- Motion commands ----
 * Each loads its operands (CAL0, CAL1, ...) with register writes, then sends
 * one action tagged with the command ID (VOXA_Set_CmdID), queued or
 * immediate by the command mode; 1 once the guard passed. Operands are not
 * checked: out-of-range values are the board's to reject. Value arrays hold
 * eight entries indexed by axis; only the entries of the selected axes are
 * read, and a null array is rejected (-50) only where it would be read. */
VOXA_API int VOXA_CALL VOXA_Home(int axes, int value);            /* home return; value: operand of every selected axis (CAL0) */
VOXA_API int VOXA_CALL VOXA_IMove(int axes, const int* values);   /* each axis on its own by values[i] pulses (relative); nothing for an empty mask */
VOXA_API int VOXA_CALL VOXA_CMove(int axes, const int* values);   /* each axis on its own to values[i] (absolute); nothing for an empty mask */
VOXA_API int VOXA_CALL VOXA_Line(int axes, const int* values);    /* linear interpolation to the end point values[i] */
/* Circular interpolation around `centre` to `end` (per-axis values, pulses):
 * note the order, centre first. */
VOXA_API int VOXA_CALL VOXA_ArcCW(int axes, const int* centre, const int* end);
VOXA_API int VOXA_CALL VOXA_ArcCCW(int axes, const int* centre, const int* end);
/* A bit pattern of `count` bits (low 16 bits stored; 0 or less sends
 * nothing but the count): blocks holds one block of eight values for every
 * started 16 bits of count, up to four (CAL0..CAL3). */
VOXA_API int VOXA_CALL VOXA_BitPattern(int axes, const int* blocks, int count);
VOXA_API int VOXA_CALL VOXA_Spindle(int axes, int value);         /* spindle rotation at value pulses/s (signed); 0 stops it */
/* As VOXA_Line with its own path velocity p1, acceleration p2, deceleration
 * p3 (low 16 bits) and start velocity p4, each used by the board when nonzero. */
VOXA_API int VOXA_CALL VOXA_XMove(int axes, const int* values, int p1, int p2, int p3, int p4);
VOXA_API int VOXA_CALL VOXA_IHome(int axes, const int* values);   /* home return with a per-axis operand values[i] (CAL0) */
VOXA_API int VOXA_CALL VOXA_Enable_MI(int flag);                  /* MI mode on or off (an action; CHIPSET 0 bit 6 in the image) */
VOXA_API int VOXA_CALL VOXA_MIExe(void);                          /* runs MI (an action) */
VOXA_API int VOXA_CALL VOXA_Is_MI(void);                          /* 0 or 1 as last set */
VOXA_API int VOXA_CALL VOXA_Set_BPU(int value);                   /* BPU value, low 16 bits kept */
VOXA_API int VOXA_CALL VOXA_Get_BPU(void);                        /* 0..65535 */
/* The axes of `slaves` follow the lowest axis of `master` (low 8 bits;
 * 0: no master). Sent even for no slave. */
VOXA_API int VOXA_CALL VOXA_Set_MasterAxis(int slaves, int master);
VOXA_API int VOXA_CALL VOXA_Get_MasterAxis(int axes);             /* the master's one-bit axis mask, 0 for none or an empty mask */

/* ---- Home return (AXISSET, HOMERETURN) ---- */
VOXA_API int VOXA_CALL VOXA_Set_HomeMode(int axes, int mode);     /* home mode 0..2 */
VOXA_API int VOXA_CALL VOXA_Get_HomeMode(int axes);               /* 0..2; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_HomeDir(int axes, int direction); /* search direction 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Is_HomeDir(int axes);                 /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Set_HomeSensorLevel(int axes, int level); /* active level of the home sensor, 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Is_HomeSensorLevel(int axes);         /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Is_HomeSensor(int axes);              /* 0 or 1: the home sensor is active, as last reported */
VOXA_API int VOXA_CALL VOXA_Set_HomeSeekVel(int axes, int velocity); /* seek velocity, pulses/s, low 16 bits kept */
VOXA_API int VOXA_CALL VOXA_Get_HomeSeekVel(int axes);            /* 0..65535 */
VOXA_API int VOXA_CALL VOXA_Set_HomeSeekOffsetPulse(int axes, int offset); /* offset from the sensor, pulses, low 16 bits kept */
VOXA_API int VOXA_CALL VOXA_Get_HomeSeekOffsetPulse(int axes);    /* 0..65535 (a negative offset reads 65536 + offset); -1 on failure */
/* Home deviation, pulses: stores the largest of 1, 2, 4, 8, 10, 16, 20, 32,
 * 40, 64, 80, 128, 160, 320, 640, 1280 not above it (a negative value: 2);
 * 0 switches the deviation alarm off instead. */
VOXA_API int VOXA_CALL VOXA_Set_HomeDev(int axes, int deviation);
VOXA_API int VOXA_CALL VOXA_Get_HomeDev(int axes);                /* 1..1280; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_HomeDevAlarm(int axes, int flag); /* alarm when the home deviation is exceeded */
VOXA_API int VOXA_CALL VOXA_Is_HomeDevAlarm(int axes);            /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Enable_HomeReturnAutoZero(int axes, int flag); /* position 0 at the end of a home return */
VOXA_API int VOXA_CALL VOXA_Is_HomeReturnAutoZero(int axes);      /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Enable_HomeSensorAutoZero(int axes, int flag); /* position 0 at the home sensor */
VOXA_API int VOXA_CALL VOXA_Is_HomeSensorAutoZero(int axes);      /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Enable_HomeServoReset(int axes, int flag); /* servo reset during a home return */
VOXA_API int VOXA_CALL VOXA_Is_HomeServoReset(int axes);          /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Is_HomeReturnExe(int axes);           /* 0 or 1: a home return is running, as last reported */
VOXA_API int VOXA_CALL VOXA_Is_HomeReturnAlarm(int axes);         /* 0 or 1: a home return ended in alarm, as last reported */
VOXA_API int VOXA_CALL VOXA_HomeLimitAxis(int axes, int flag);    /* home on the limit switch; low 8 bits count; sent even for an empty mask */
VOXA_API int VOXA_CALL VOXA_Is_HomeLimitAxis(int axes);           /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_HomeBackSearchAxis(int axes, int flag); /* back search; as VOXA_HomeLimitAxis */
VOXA_API int VOXA_CALL VOXA_Is_HomeBackSearchAxis(int axes);      /* 0 or 1 */

#ifdef __cplusplus
}
#endif
#endif
