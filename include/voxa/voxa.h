/*
 * voxa.h - the C interface of libvoxa, the host library of the eight-axis
 * motion-controller boards.
 *
 * Every exported function acts on the one current board, selected with
 * VOXA_Set_BoardID or by the open that succeeded last. Results are return
 * values plus a process-wide error flag and last error code (VOXA_Is_Err,
 * VOXA_Get_LastErr).
 *
 * Threads (docs/threads.md): every export may be called from any thread. The
 * current board and the error state are shared by all threads, unless a
 * thread takes a board of its own with VOXA_Set_ThreadBoardID, which also
 * gives it an error state of its own. Waits (VOXA_WaitMotion, VOXA_Refresh)
 * hold no lock, so other threads' calls, a stop included, go through
 * meanwhile. Handlers of the application run on one dispatch thread of the
 * library, never under a library lock, and may call any export (beeps run on
 * the thread whose export beeped).
 */
#ifndef VOXA_VOXA_H
#define VOXA_VOXA_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(VOXA_BUILDING_LIBRARY)
#    define VOXA_API __declspec(dllexport)
#  else
#    define VOXA_API __declspec(dllimport)
#  endif
#  if defined(_M_IX86) || defined(__i386__)
#    define VOXA_CALL __stdcall
#  else
#    define VOXA_CALL
#  endif
typedef wchar_t VOXA_WCHAR;
#else
#  define VOXA_API __attribute__((visibility("default")))
#  define VOXA_CALL
#  if defined(__cplusplus)
typedef char16_t VOXA_WCHAR;
#  else
typedef uint16_t VOXA_WCHAR;
#  endif
#endif

/* An opaque, pointer-sized window handle: the target of posted messages. */
typedef void* VOXA_HWND;

/* Error codes (VOXA_Get_LastErr). */
#define VOXA_ERR_BOARD_ID      (-10) /* board id outside 0..7 */
#define VOXA_ERR_SOFT_QUEUE    (-11) /* soft queue allocation failed */
#define VOXA_ERR_NO_SLOT       (-20) /* no free board slot */
#define VOXA_ERR_NOT_OPEN      (-21) /* the current board is not open */
#define VOXA_ERR_OPEN          (-30) /* opening the link failed */
#define VOXA_ERR_CONFIG_SAVE   (-40) /* writing the configuration file failed */
#define VOXA_ERR_CONFIG_LOAD   (-41) /* loading the configuration file failed */
#define VOXA_ERR_ARGUMENT      (-50) /* argument outside the accepted values */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Application hooks (extensions: what the library does instead of
 *      Windows beeps, posted window messages and message boxes) ----
 * Every handler but the beep runs on the library's one dispatch thread, in
 * the order the events happened, never while the library holds a lock of
 * its own; a handler may call any export, VOXA_Close included. A close never
 * waits for the dispatch thread. Setting a handler (to null or another one)
 * returns only once a running call of the one it replaces has returned,
 * unless it is set from within a handler; after that the application may
 * free what the old handler used. The beep handler runs on the thread whose
 * call failed (or succeeded, for the success beeps). */
typedef void (VOXA_CALL *VOXA_BeepHandler)(unsigned int type);
typedef void (VOXA_CALL *VOXA_MessageHandler)(VOXA_HWND window, unsigned int message,
                                              uintptr_t wparam, intptr_t lparam);
typedef void (VOXA_CALL *VOXA_ErrorReportHandler)(const char* caption, const char* text);
/* direction: VOXA_TRACE_SENT (host to board) or VOXA_TRACE_RECEIVED; frame:
 * the whole frame, start byte to checksum (received frames after their
 * checksum was found good). Called on the library's threads. */
typedef void (VOXA_CALL *VOXA_TraceHandler)(int board, int direction, const unsigned char* frame, int length);
#define VOXA_TRACE_SENT     0
#define VOXA_TRACE_RECEIVED 1
/* As VOXA_MessageHandler, with the index of the board that posted the
 * message; wparam is the same per-board value (the controller's address). */
typedef void (VOXA_CALL *VOXA_BoardMessageHandler)(int board, VOXA_HWND window, unsigned int message,
                                                   uintptr_t wparam, intptr_t lparam);
/* After each state packet or read reply has been applied to the register
 * image: the board, a mask of the registers it updated (bit r: register r)
 * and a monotonic time in microseconds taken when its bytes were taken from
 * the link. When the handler falls behind, a board's notifications are
 * merged (masks OR-ed, the newest time kept) and counted (VOXA_Get_StateDrops). */
typedef void (VOXA_CALL *VOXA_StateHandler)(int board, uint32_t registers, uint64_t time_us);
/* A change of a board's link: state VOXA_LINK_..., reason VOXA_LINK_REASON_...,
 * os_error the system's error number with VOXA_LINK_REASON_ERROR, else 0. */
typedef void (VOXA_CALL *VOXA_LinkHandler)(int board, int state, int reason, int os_error);
#define VOXA_LINK_DOWN          0 /* the link flag fell (VOXA_Is_Link answers 0) */
#define VOXA_LINK_UP            1 /* the link flag rose: the board's heartbeats arrive */
#define VOXA_LINK_RECONNECTING  2 /* the TCP link starts re-establishing itself */
#define VOXA_LINK_RECONNECTED   3 /* the TCP link is connected again */
#define VOXA_LINK_REASON_NONE        0
#define VOXA_LINK_REASON_SILENCE     1 /* nothing received within the idle time */
#define VOXA_LINK_REASON_PEER_CLOSED 2 /* the board closed the connection */
#define VOXA_LINK_REASON_ERROR       3 /* a system error, in os_error */
#define VOXA_LINK_REASON_CLOSED      4 /* VOXA_Close */
#define VOXA_LINK_REASON_HANGUP      5 /* the serial device went away */
#define VOXA_LINK_REASON_HEARTBEAT   6 /* the board's heartbeats stopped or resumed */

VOXA_API void VOXA_CALL VOXA_Set_BeepHandler(VOXA_BeepHandler handler);
VOXA_API void VOXA_CALL VOXA_Set_MessageHandler(VOXA_MessageHandler handler);
VOXA_API void VOXA_CALL VOXA_Set_ErrorReportHandler(VOXA_ErrorReportHandler handler);
VOXA_API void VOXA_CALL VOXA_Set_TraceHandler(VOXA_TraceHandler handler);
VOXA_API void VOXA_CALL VOXA_Set_BoardMessageHandler(VOXA_BoardMessageHandler handler);
VOXA_API void VOXA_CALL VOXA_Set_StateHandler(VOXA_StateHandler handler);
VOXA_API void VOXA_CALL VOXA_Set_LinkHandler(VOXA_LinkHandler handler);
/* State notifications of the current board merged because the state handler
 * fell behind; 0 on a guard failure. */
VOXA_API uint32_t VOXA_CALL VOXA_Get_StateDrops(void);
/* Milliseconds since the board last reported register reg (state packet or
 * read reply) on the current board's link; -1 when it has not on this link.
 * Failure value -1 (-50 for reg outside 0..31). */
VOXA_API int VOXA_CALL VOXA_Get_RegAge(int reg);
/* A short English meaning of an error code of the library. */
VOXA_API const char* VOXA_CALL VOXA_Get_ErrText(int code);

/* ---- Board selection, errors, versions, links ---- */
VOXA_API int  VOXA_CALL VOXA_Set_BoardID(int id);
VOXA_API int  VOXA_CALL VOXA_Get_BoardID(void);
VOXA_API int  VOXA_CALL VOXA_Is_Err(void);
VOXA_API int  VOXA_CALL VOXA_Get_LastErr(void);
VOXA_API void VOXA_CALL VOXA_Enable_ErrBeep(int on);
VOXA_API int  VOXA_CALL VOXA_Is_Link(void);
VOXA_API void VOXA_CALL VOXA_Get_DllVer(char* buf, int len);
VOXA_API void VOXA_CALL VOXA_Get_wDllVer(VOXA_WCHAR* buf, int len);
VOXA_API void VOXA_CALL VOXA_Get_EngineVer(char* buf, int len);
VOXA_API int  VOXA_CALL VOXA_Open_Comm(int port, int baud);
VOXA_API int  VOXA_CALL VOXA_Open_CommDevice(const char* path, int baud);
VOXA_API int  VOXA_CALL VOXA_Open_Tcp(uint32_t address, int port, int rate);
VOXA_API int  VOXA_CALL VOXA_Close(void);
VOXA_API int  VOXA_CALL VOXA_Change_Comm_Baudrate(int baud);

/* A board per thread (extension). From this call on, the calling thread's
 * exports act on board id (0..7) whatever other threads select; -1 returns
 * the thread to the process-wide current board. 1 on success; 0 with
 * VOXA_ERR_BOARD_ID (-10) for an id outside -1..7, the selection unchanged.
 * The board need not be open yet: while it is not (never opened, or closed by
 * any thread), the thread's guarded calls fail with VOXA_ERR_NOT_OPEN (-21),
 * as for a closed current board, until it is opened again or the thread
 * selects another board. While a board of its own is selected the thread also
 * keeps an error flag and last error code of its own (VOXA_Is_Err,
 * VOXA_Get_LastErr), so that its results are not mixed with other threads';
 * VOXA_Get_BoardID answers the thread's board and VOXA_Close closes it.
 * VOXA_Set_BoardID still sets the process-wide current board. See
 * docs/threads.md. */
VOXA_API int  VOXA_CALL VOXA_Set_ThreadBoardID(int id);

#ifdef __cplusplus
}
#endif

#include "voxa_queue.h"
#include "voxa_state.h"
#include "voxa_system.h"
#include "voxa_motion.h"
#include "voxa_io.h"
#include "voxa_config.h"
#include "voxa_tools.h"

#endif /* VOXA_VOXA_H */
