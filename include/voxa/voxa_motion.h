/* voxa_motion.h - Axis output, limits, velocity profile, positions, motion commands, home return. Included by voxa.h.
 *
 * `axes` is an axis mask: bit i selects axis i (bits above 7 are ignored).
 * Per-axis getters read the lowest selected axis, axis 7 for an empty mask.
 * `values` points to eight values indexed by axis; only the entries of the
 * selected axes are read. Setters and commands return 1 on success, 0 on
 * failure; getters return -1 on failure where noted, else 0. */
#ifndef VOXA_VOXA_MOTION_H
#define VOXA_VOXA_MOTION_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

/* ---- Pulse output ---- */
VOXA_API int VOXA_CALL VOXA_Set_PulseMode(int axes, int mode);    /* mode 0..2 */
VOXA_API int VOXA_CALL VOXA_Get_PulseMode(int axes);              /* -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_PulseLevel(int axes, int level);  /* level 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Get_PulseLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_DirLevel(int axes, int level);
VOXA_API int VOXA_CALL VOXA_Get_DirLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_CwLevel(int axes, int level);
VOXA_API int VOXA_CALL VOXA_Get_CwLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_CcwLevel(int axes, int level);
VOXA_API int VOXA_CALL VOXA_Get_CcwLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_AxisPulseWidth(int code);         /* 0..7 */
VOXA_API int VOXA_CALL VOXA_Get_AxisPulseWidth(void);

/* ---- Limits ---- */
VOXA_API int VOXA_CALL VOXA_Enable_LowerLimit(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Enable_UpperLimit(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_IsEnable_LowerLimit(int axes);
VOXA_API int VOXA_CALL VOXA_IsEnable_UpperLimit(int axes);
VOXA_API int VOXA_CALL VOXA_Set_LowerLimitLevel(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Set_UpperLimitLevel(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Get_LowerLimitLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Get_UpperLimitLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Enable_SoftLowerLimit(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Enable_SoftUpperLimit(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_IsEnable_SoftLowerLimit(int axes);
VOXA_API int VOXA_CALL VOXA_IsEnable_SoftUpperLimit(int axes);
VOXA_API int VOXA_CALL VOXA_Set_SoftLowerLimit(int axes, int position);
VOXA_API int VOXA_CALL VOXA_Set_SoftUpperLimit(int axes, int position);
VOXA_API int VOXA_CALL VOXA_Get_SoftLowerLimit(int axes);
VOXA_API int VOXA_CALL VOXA_Get_SoftUpperLimit(int axes);
VOXA_API int VOXA_CALL VOXA_Set_SoftLimitMode(int axes, int mode); /* mode 0..3 */
VOXA_API int VOXA_CALL VOXA_Get_SoftLimitMode(int axes);           /* -1 on failure */

/* ---- Axis status ---- */
VOXA_API int VOXA_CALL VOXA_Is_LimitL(int axes);
VOXA_API int VOXA_CALL VOXA_Is_LimitH(int axes);
VOXA_API int VOXA_CALL VOXA_Is_SoftLimitL(int axes);
VOXA_API int VOXA_CALL VOXA_Is_SoftLimitH(int axes);
VOXA_API int VOXA_CALL VOXA_Is_CW(int axes);
VOXA_API int VOXA_CALL VOXA_Is_CCW(int axes);
VOXA_API int VOXA_CALL VOXA_Is_AlarmAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Is_PositionAlarm(int axes);

/* ---- Velocity mode and state ---- */
VOXA_API int VOXA_CALL VOXA_Set_VelMode(int mode);                /* 0..3 */
VOXA_API int VOXA_CALL VOXA_Get_VelMode(void);                    /* -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_VelModeAxis(int axes, int mode);  /* 0..2 */
VOXA_API int VOXA_CALL VOXA_Get_VelModeAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Get_VelState(void);
VOXA_API int VOXA_CALL VOXA_Get_VelStateAxis(int axes);

/* ---- Velocities and accelerations (16-bit values) ---- */
VOXA_API int VOXA_CALL VOXA_Set_StartVel(int value);
VOXA_API int VOXA_CALL VOXA_Get_StartVel(void);
VOXA_API int VOXA_CALL VOXA_Set_StartVelAxis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_StartVelAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Set_DriveVel(int value);
VOXA_API int VOXA_CALL VOXA_Get_DriveVel(void);
VOXA_API int VOXA_CALL VOXA_Set_DriveVelAxis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_DriveVelAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Get_CurVel(void);
VOXA_API int VOXA_CALL VOXA_Get_CurVelAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Set_Acc(int value);
VOXA_API int VOXA_CALL VOXA_Get_Acc(void);
VOXA_API int VOXA_CALL VOXA_Set_AccAxis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_AccAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Set_Dec(int value);
VOXA_API int VOXA_CALL VOXA_Get_Dec(void);
VOXA_API int VOXA_CALL VOXA_Set_DecAxis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_DecAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Set_Acc2(int value);
VOXA_API int VOXA_CALL VOXA_Get_Acc2(void);
VOXA_API int VOXA_CALL VOXA_Set_Acc2Axis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_Acc2Axis(int axes);
VOXA_API int VOXA_CALL VOXA_Set_Dec2(int value);
VOXA_API int VOXA_CALL VOXA_Get_Dec2(void);
VOXA_API int VOXA_CALL VOXA_Set_Dec2Axis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_Dec2Axis(int axes);

/* ---- Multiplier, constant linear velocity, overrides ---- */
VOXA_API int VOXA_CALL VOXA_Set_VelMultiplier(int value);         /* 1, 2, 4, 8, 16 or 32 */
VOXA_API int VOXA_CALL VOXA_Get_VelMultiplier(void);
VOXA_API int VOXA_CALL VOXA_Enable_CLV(int flag);
VOXA_API int VOXA_CALL VOXA_Is_CLV(void);
VOXA_API int VOXA_CALL VOXA_Set_CLVAxis(int axes);
VOXA_API int VOXA_CALL VOXA_Get_CLVAxis(void);
VOXA_API int VOXA_CALL VOXA_Set_VelOverride(int value);           /* above 0; at most 60000 is stored */
VOXA_API int VOXA_CALL VOXA_Get_VelOverride(void);
VOXA_API int VOXA_CALL VOXA_Set_VelOverride2(int value);          /* above 0; at most 60000 is stored */
VOXA_API int VOXA_CALL VOXA_Get_VelOverride2(void);
VOXA_API int VOXA_CALL VOXA_Set_S1VelOverride(int value);         /* above 0; at most 10000 is stored */
VOXA_API int VOXA_CALL VOXA_Get_S1VelOverride(void);
VOXA_API int VOXA_CALL VOXA_Set_S2VelOverride(int value);         /* above 0; at most 10000 is stored */
VOXA_API int VOXA_CALL VOXA_Get_S2VelOverride(void);
VOXA_API int VOXA_CALL VOXA_Lock_VelOverride(void);
VOXA_API int VOXA_CALL VOXA_Unlock_VelOverride(void);
VOXA_API int VOXA_CALL VOXA_Is_Lock_VelOverride(void);

/* ---- Dwell, control rate, convergence, feed-forward, auto transition ---- */
VOXA_API int VOXA_CALL VOXA_Set_DwellTime(int value);
VOXA_API int VOXA_CALL VOXA_Get_DwellTime(void);                  /* -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_DwellTimeAxis(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Set_DwellTimeAxis(int axes, int value);
VOXA_API int VOXA_CALL VOXA_Get_DwellTimeAxis(int axes);          /* 0..16383; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_VelCtrlHz(int value);
VOXA_API int VOXA_CALL VOXA_Get_VelCtrlHz(void);                  /* -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_VelForceConvergence(int flag);
VOXA_API int VOXA_CALL VOXA_Is_VelForceConvergence(void);
VOXA_API int VOXA_CALL VOXA_Enable_FFC(int flag);
VOXA_API int VOXA_CALL VOXA_Is_FFC(void);
VOXA_API int VOXA_CALL VOXA_Set_FFC_PMax(int value);              /* above 1000 stores 1000 */
VOXA_API int VOXA_CALL VOXA_Enable_VelPosAutoTransition(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_VelPosAutoTransition(int axes);

/* ---- Positions, gearing, backlash ---- */
VOXA_API int VOXA_CALL VOXA_Set_CurPos(int axes, int position);
VOXA_API int VOXA_CALL VOXA_Get_CurPos(int axes);
VOXA_API int VOXA_CALL VOXA_Set_EncPos(int axes, int position);
VOXA_API int VOXA_CALL VOXA_Get_EncPos(int axes);
VOXA_API int VOXA_CALL VOXA_Get_EncZCount(int axes);              /* -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_GearRatio(int axes, int ratio);
VOXA_API int VOXA_CALL VOXA_Get_GearRatio(int axes);              /* -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_Backlash(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Set_Backlash(int axes, int amount);
VOXA_API int VOXA_CALL VOXA_Get_Backlash(int axes);               /* 0..16383 */
VOXA_API int VOXA_CALL VOXA_Set_PosMode(int flag);                /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Get_PosMode(void);                    /* -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_PosDispMode(int flag);            /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Get_PosDispMode(void);                /* -1 on failure */

/* ---- Motion commands ----
 * Value arrays hold eight entries indexed by axis; only the entries of the
 * selected axes are read. A null array is rejected (-50) only where it would
 * be read: with no axis selected (or, for VOXA_BitPattern, a count of 0 or
 * below) it is accepted and the command goes as it would with an array. */
VOXA_API int VOXA_CALL VOXA_Home(int axes, int value);
VOXA_API int VOXA_CALL VOXA_IMove(int axes, const int* values);
VOXA_API int VOXA_CALL VOXA_CMove(int axes, const int* values);
VOXA_API int VOXA_CALL VOXA_Line(int axes, const int* values);
VOXA_API int VOXA_CALL VOXA_ArcCW(int axes, const int* centre, const int* end);
VOXA_API int VOXA_CALL VOXA_ArcCCW(int axes, const int* centre, const int* end);
/* blocks: up to four blocks of eight values (block k for CALk); count: bits of pattern */
VOXA_API int VOXA_CALL VOXA_BitPattern(int axes, const int* blocks, int count);
VOXA_API int VOXA_CALL VOXA_Spindle(int axes, int value);
VOXA_API int VOXA_CALL VOXA_XMove(int axes, const int* values, int p1, int p2, int p3, int p4);
VOXA_API int VOXA_CALL VOXA_IHome(int axes, const int* values);
VOXA_API int VOXA_CALL VOXA_Enable_MI(int flag);
VOXA_API int VOXA_CALL VOXA_MIExe(void);
VOXA_API int VOXA_CALL VOXA_Is_MI(void);
VOXA_API int VOXA_CALL VOXA_Set_BPU(int value);
VOXA_API int VOXA_CALL VOXA_Get_BPU(void);
VOXA_API int VOXA_CALL VOXA_Set_MasterAxis(int slaves, int master);
VOXA_API int VOXA_CALL VOXA_Get_MasterAxis(int axes);

/* ---- Home return ---- */
VOXA_API int VOXA_CALL VOXA_Set_HomeMode(int axes, int mode);     /* 0..2 */
VOXA_API int VOXA_CALL VOXA_Get_HomeMode(int axes);               /* -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_HomeDir(int axes, int direction); /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Is_HomeDir(int axes);
VOXA_API int VOXA_CALL VOXA_Set_HomeSensorLevel(int axes, int level); /* 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Is_HomeSensorLevel(int axes);
VOXA_API int VOXA_CALL VOXA_Is_HomeSensor(int axes);
VOXA_API int VOXA_CALL VOXA_Set_HomeSeekVel(int axes, int velocity);
VOXA_API int VOXA_CALL VOXA_Get_HomeSeekVel(int axes);
VOXA_API int VOXA_CALL VOXA_Set_HomeSeekOffsetPulse(int axes, int offset);
VOXA_API int VOXA_CALL VOXA_Get_HomeSeekOffsetPulse(int axes);    /* 0..65535; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_HomeDev(int axes, int deviation);
VOXA_API int VOXA_CALL VOXA_Get_HomeDev(int axes);                /* 1..1280; -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_HomeDevAlarm(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_HomeDevAlarm(int axes);
VOXA_API int VOXA_CALL VOXA_Enable_HomeReturnAutoZero(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_HomeReturnAutoZero(int axes);
VOXA_API int VOXA_CALL VOXA_Enable_HomeSensorAutoZero(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_HomeSensorAutoZero(int axes);
VOXA_API int VOXA_CALL VOXA_Enable_HomeServoReset(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_HomeServoReset(int axes);
VOXA_API int VOXA_CALL VOXA_Is_HomeReturnExe(int axes);
VOXA_API int VOXA_CALL VOXA_Is_HomeReturnAlarm(int axes);
VOXA_API int VOXA_CALL VOXA_HomeLimitAxis(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_HomeLimitAxis(int axes);
VOXA_API int VOXA_CALL VOXA_HomeBackSearchAxis(int axes, int flag);
VOXA_API int VOXA_CALL VOXA_Is_HomeBackSearchAxis(int axes);

#ifdef __cplusplus
}
#endif
#endif
