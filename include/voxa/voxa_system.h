/* voxa_system.h - System control: execution, stops, delays, baud rates, board-wide modes. Included by voxa.h. */
#ifndef VOXA_VOXA_SYSTEM_H
#define VOXA_VOXA_SYSTEM_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

/* ---- Board-wide modes (1 on success, 0 on failure unless noted) ---- */
VOXA_API int VOXA_CALL VOXA_Set_InterruptMode(int mode);          /* mode 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Get_InterruptMode(void);              /* -1 on failure */
VOXA_API int VOXA_CALL VOXA_Set_ExtEmgStopMode(int mode);         /* mode 0 or 1 */
VOXA_API int VOXA_CALL VOXA_Get_ExtEmgStopMode(void);             /* -1 on failure */
VOXA_API int VOXA_CALL VOXA_Enable_IEndComp(int on);
VOXA_API int VOXA_CALL VOXA_Is_IEndComp(void);
VOXA_API int VOXA_CALL VOXA_Enable_StepExe(int on);
VOXA_API int VOXA_CALL VOXA_Is_StepExe(void);                     /* as the board last reported it */
VOXA_API int VOXA_CALL VOXA_Set_MainBaudrate(int baud);           /* 115200, 230400, 460800, 921600 */
VOXA_API int VOXA_CALL VOXA_Get_MainBaudrate(void);
VOXA_API int VOXA_CALL VOXA_Set_AuxBaudrate(int baud);
VOXA_API int VOXA_CALL VOXA_Get_AuxBaudrate(void);
VOXA_API int VOXA_CALL VOXA_Enable_AuxPortStateTimer(int on);
VOXA_API int VOXA_CALL VOXA_Enable_AuxPortStatePacket(int on);
VOXA_API int VOXA_CALL VOXA_Enable_AuxPortAllCommand(int on);
VOXA_API int VOXA_CALL VOXA_Enable_RestrictedImCmd(int on);
VOXA_API int VOXA_CALL VOXA_Is_RestrictedImCmd(void);
VOXA_API int VOXA_CALL VOXA_Set_VelMode3StartMode(int on);
VOXA_API int VOXA_CALL VOXA_Get_VelMode3StartMode(void);
VOXA_API int VOXA_CALL VOXA_MainLinkAlarmOn(int on);
VOXA_API int VOXA_CALL VOXA_Is_MainLinkAlarmOn(void);
VOXA_API int VOXA_CALL VOXA_Set_InportMode(int mode);
VOXA_API int VOXA_CALL VOXA_Get_InportMode(void);
VOXA_API int VOXA_CALL VOXA_Set_OutportMode(int mode);
VOXA_API int VOXA_CALL VOXA_Get_OutportMode(void);
VOXA_API int VOXA_CALL VOXA_Set_GIOMap(int map);
VOXA_API int VOXA_CALL VOXA_Get_GIOMap(void);
VOXA_API int VOXA_CALL VOXA_Set_ImStopDec(int value);
VOXA_API int VOXA_CALL VOXA_Get_ImStopDec(void);                  /* -1 on failure */

/* ---- Execution control (1 once the board guard passed) ---- */
VOXA_API int VOXA_CALL VOXA_Reset(void);
VOXA_API int VOXA_CALL VOXA_Enable_Exe(void);
VOXA_API int VOXA_CALL VOXA_AlarmReset(void);
VOXA_API int VOXA_CALL VOXA_Resume(void);
VOXA_API int VOXA_CALL VOXA_Update_Baudrate(void);
VOXA_API int VOXA_CALL VOXA_Pause(void);
VOXA_API int VOXA_CALL VOXA_Cancel(void);
VOXA_API int VOXA_CALL VOXA_ImStop(void);
VOXA_API int VOXA_CALL VOXA_DecStop(void);
VOXA_API int VOXA_CALL VOXA_EStop(int flag);                      /* nonzero: immediate stop; 0: decelerating stop */
VOXA_API int VOXA_CALL VOXA_Enable_CExe(int on);
VOXA_API int VOXA_CALL VOXA_Is_CExe(void);
VOXA_API int VOXA_CALL VOXA_Delay(int t);
VOXA_API int VOXA_CALL VOXA_XDelay(int p1, int p2, int p3, int p4, int p5, int p6);

/* ---- Execution state, as the board last reported it ---- */
VOXA_API int VOXA_CALL VOXA_Is_EStop(void);
VOXA_API int VOXA_CALL VOXA_Is_Pause(void);
VOXA_API int VOXA_CALL VOXA_Is_Alarm(void);
VOXA_API int VOXA_CALL VOXA_Is_EmgExe(void);
VOXA_API int VOXA_CALL VOXA_Is_EnableExe(void);

#ifdef __cplusplus
}
#endif
#endif
