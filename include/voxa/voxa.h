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

#include <stddef.h> /* wchar_t */
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
/* (extension) an immediate command the link could not take within 500 ms:
 * the board does not read, or reads too slowly; nothing of it was sent */
#define VOXA_ERR_SEND          (-60)

/* Register numbers: the board is 32 registers of eight 32-bit words; the
 * library keeps an image of them (VOXA_Get_RegWord). Per-axis registers
 * hold axis i in word i. Status registers (CHIPSTATUS, AXISSTATUS, CURPOS,
 * ENCPOS, CURVEL, FEEDBACK, GIO and EXTIO words 0..3, CUSTOM) are refreshed
 * from the board's reports; the others hold what the host last set. */
#define VOXA_REG_CHIPSET      0  /* board-wide settings */
#define VOXA_REG_CHIPSTATUS   1  /* board-wide status: execution, queue, command IDs, alarm code, version */
#define VOXA_REG_AXISSET      2  /* per-axis settings: pulse output, limits, velocity mode, homing */
#define VOXA_REG_AXISSTATUS   3  /* per-axis status: limits, direction, alarm, servo inputs, complete */
#define VOXA_REG_AXISAUXSET   4  /* per-axis backlash (bits 0-15) and dwell time (bits 16-31) */
#define VOXA_REG_GEARRATIO    5  /* per-axis gear ratio */
#define VOXA_REG_CURPOS       6  /* per-axis command position, pulses (signed) */
#define VOXA_REG_CAL0         7  /* command operands */
#define VOXA_REG_CAL1         8
#define VOXA_REG_CAL2         9
#define VOXA_REG_CAL3        10
#define VOXA_REG_PULSEOFFSET 11  /* BPU, bit-pattern count, servo in-position time */
#define VOXA_REG_ENCPOS      12  /* per-axis encoder position, pulses (signed) */
#define VOXA_REG_SLIMITL     13  /* per-axis soft lower limit, pulses (signed) */
#define VOXA_REG_SLIMITH     14  /* per-axis soft upper limit, pulses (signed) */
#define VOXA_REG_VELAUXSET   15  /* multiplier, CLV axes, dwell, control rate, overrides */
#define VOXA_REG_STARTVEL    16  /* start velocity: axis i bits 0-15, board-wide word 0 bits 16-31 */
#define VOXA_REG_DRIVEVEL    17  /* drive velocity, laid out as STARTVEL */
#define VOXA_REG_CURVEL      18  /* current velocity, as the board reports it */
#define VOXA_REG_ACC         19  /* acceleration, laid out as STARTVEL */
#define VOXA_REG_DEC         20  /* deceleration */
#define VOXA_REG_ACC2        21  /* second acceleration */
#define VOXA_REG_DEC2        22  /* second deceleration */
#define VOXA_REG_FEEDBACK    23  /* per-axis feedback: encoder Z count in bits 0-15 */
#define VOXA_REG_HOMERETURN  24  /* per-axis home seek velocity (bits 0-15) and offset (bits 16-31) */
#define VOXA_REG_COMPARE     25  /* comparator channels and their data words */
#define VOXA_REG_RESERVED    26
#define VOXA_REG_PROGRAM     27
#define VOXA_REG_SERVOIO     28  /* per-axis servo signals */
#define VOXA_REG_GIO         29  /* general-purpose I/O, counters, ADC, PWM */
#define VOXA_REG_EXTIO       30  /* extension I/O words */
#define VOXA_REG_CUSTOM      31  /* PID commands and reports */

/* Command IDs (VOXA_Set_CmdID, VOXA_WaitMotion): 8 bits, 0..255. */
#define VOXA_CMDID_NONE 0xFE /* commands carry no ID; what the ID getters report when none */
#define VOXA_CMDID_ANY  0xFF /* VOXA_WaitMotion: any completion the board reports */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Application hooks: where beeps, window messages, error reports and
 *      diagnostic lines go. The defaults are the system's own: on Windows a
 *      MessageBeep, a PostMessage to the registered window and a message
 *      box; elsewhere as each handler says. A null handler restores the
 *      default; each setter is process-wide and needs no board. ----
 * Every handler but the beep and the log handler runs on the library's one
 * dispatch thread, in the order the events happened, never while the library
 * holds a lock of its own; a handler may call any export, VOXA_Close
 * included. A close never waits for the dispatch thread. Setting a handler
 * (to null or another one) returns only once a running call of the one it
 * replaces has returned, unless it is set from within a handler; after that
 * the application may free what the old handler used. The beep handler runs
 * on the thread whose call failed (or succeeded, for the success beeps), with
 * that call's result in the error state; exports it calls (as those the log
 * handler calls during a load) leave the call's result as it was. */
/* type: 16 for a failure, 0 for a success (open, live link, configuration
 * file). Default: MessageBeep(type) on Windows; elsewhere BEL on standard
 * error when it is a terminal. */
typedef void (VOXA_CALL *VOXA_BeepHandler)(unsigned int type);
/* What would be a posted window message: the window and message number
 * registered with VOXA_Register_Complete_Message or
 * VOXA_Register_Comparator_Message, wparam identifying the board (the address of its controller: one
 * value per board, the same across closes), lparam the
 * payload word (its low byte the completed command ID). Default: on Windows
 * PostMessage(window, message, wparam, lparam); elsewhere none. */
typedef void (VOXA_CALL *VOXA_MessageHandler)(VOXA_HWND window, unsigned int message,
                                              uintptr_t wparam, intptr_t lparam);
/* A TCP link error ("TCP ERROR-(n)", the system's text). Default: a message
 * box on Windows; elsewhere one line on standard error. */
typedef void (VOXA_CALL *VOXA_ErrorReportHandler)(const char* caption, const char* text);
/* direction: VOXA_TRACE_SENT (host to board) or VOXA_TRACE_RECEIVED; frame:
 * the whole frame, start byte to checksum (received frames after their
 * checksum was found good). */
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
/* Queued commands were on their way when the link was lost: os_error holds
 * how many frames. The board may or may not have them; none is sent again
 * (VOXA_Get_InDoubtFrames counts them). */
#define VOXA_LINK_IN_DOUBT      4
/* After a reconnection the board reported its power-on settings where the
 * host had set others: it restarted (reason VOXA_LINK_REASON_RESTARTED). The
 * register image still holds the host's settings; the board does not. */
#define VOXA_LINK_RESTARTED     5
/* The host's settings registers were written back to the restarted board
 * (VOXA_Enable_RestoreAfterRestart); os_error: registers that could not be
 * sent (0 normally). */
#define VOXA_LINK_RESTORED      6
#define VOXA_LINK_REASON_NONE        0
#define VOXA_LINK_REASON_SILENCE     1 /* nothing received within the idle time */
#define VOXA_LINK_REASON_PEER_CLOSED 2 /* the board closed the connection */
#define VOXA_LINK_REASON_ERROR       3 /* a system error, in os_error */
#define VOXA_LINK_REASON_CLOSED      4 /* VOXA_Close */
#define VOXA_LINK_REASON_HANGUP      5 /* the serial device went away */
#define VOXA_LINK_REASON_HEARTBEAT   6 /* the board's heartbeats stopped or resumed */
#define VOXA_LINK_REASON_RESTARTED   8 /* the board restarted */
#define VOXA_LINK_REASON_HELD        7 /* the board serves another host and turned this one away: the
                                          link asks again once a second, never taking it from that host */

/* A diagnostic line of the library, as text (with its own newlines): "file
 * not exist\n" and "ok...file exist\n" from VOXA_Load_wConfigFile and
 * VOXA_Load_ConfigFile, and "\n QLM207.CmdQueue_SendTxPacket>Error! Pop ..."
 * when a queued frame cannot be taken from the soft queue; besides these,
 * one line each for what the link handler also reports (queued frames in
 * doubt after a lost link, a restarted board, its settings written back)
 * and for an open turned away because another host holds the board
 * ("open failed: ..."). board: the board it concerns. Default: the text on
 * standard output, flushed. Called on the caller's thread for a load or an
 * open, on the dispatch thread otherwise, never with a library lock held;
 * it may call any export. */
typedef void (VOXA_CALL *VOXA_LogHandler)(int board, const char* text);

VOXA_API void VOXA_CALL VOXA_Set_BeepHandler(VOXA_BeepHandler handler);         /* null: the default */
VOXA_API void VOXA_CALL VOXA_Set_MessageHandler(VOXA_MessageHandler handler);   /* null: the default (Windows: PostMessage; elsewhere dropped) */
VOXA_API void VOXA_CALL VOXA_Set_ErrorReportHandler(VOXA_ErrorReportHandler handler); /* null: the default */
VOXA_API void VOXA_CALL VOXA_Set_TraceHandler(VOXA_TraceHandler handler);       /* null: tracing off */
VOXA_API void VOXA_CALL VOXA_Set_BoardMessageHandler(VOXA_BoardMessageHandler handler); /* null: none */
VOXA_API void VOXA_CALL VOXA_Set_StateHandler(VOXA_StateHandler handler);       /* null: none */
VOXA_API void VOXA_CALL VOXA_Set_LinkHandler(VOXA_LinkHandler handler);         /* null: none */
VOXA_API void VOXA_CALL VOXA_Set_LogHandler(VOXA_LogHandler handler);           /* null: the default; route or silence the lines */
/* State notifications of the current board merged because the state handler
 * fell behind; 0 on a guard failure. */
VOXA_API uint32_t VOXA_CALL VOXA_Get_StateDrops(void);
/* Milliseconds since the board last reported register reg (state packet or
 * read reply) on the current board's link; -1 when it has not on this link.
 * Failure value -1 (-50 for reg outside 0..31). */
VOXA_API int VOXA_CALL VOXA_Get_RegAge(int reg);
/* Queued frames of the current board that were on their way when a link was
 * lost, since the library loaded: they may or may not have reached the
 * board, and none is sent again. While the board answers the library's
 * polls, the soft queue holds its frames back once 64 wait unconfirmed, so
 * a pulled cable or a board that stops reading leaves the rest queued for
 * the link's return. -1 on failure. */
VOXA_API int VOXA_CALL VOXA_Get_InDoubtFrames(void);
/* A restarted board (VOXA_LINK_RESTARTED) gets the host's settings back: on
 * nonzero, the library then writes the register image's settings registers
 * (CHIPSET, AXISSET, AXISAUXSET, GEARRATIO, PULSEOFFSET, SLIMITL/H, VELAUXSET,
 * the velocities and accelerations, HOMERETURN, COMPARE, SERVOIO) to the
 * board at once and reports VOXA_LINK_RESTORED. Off by default; per board,
 * kept across close and reopen. Returns 1. VOXA_Is_RestoreAfterRestart: 0 or 1. */
VOXA_API int VOXA_CALL VOXA_Enable_RestoreAfterRestart(int on);
VOXA_API int VOXA_CALL VOXA_Is_RestoreAfterRestart(void);
/* A short English meaning of an error code (VOXA_ERR_...), "no error" for 0,
 * "unknown error code" otherwise; a static text. Needs no board. */
VOXA_API const char* VOXA_CALL VOXA_Get_ErrText(int code);
/* Why the last failed open (VOXA_Open_Comm, VOXA_Open_CommDevice,
 * VOXA_Open_Tcp; -30) failed, process-wide, needs no board: VOXA_OPEN_...;
 * *os_error (may be NULL) := the system's error number with
 * VOXA_OPEN_SYSTEM, else 0; text (may be NULL) := one sentence naming the
 * link, cut to len-1 characters ("the board at 127.0.0.1:1000 is held by
 * another host"). An open turned away because another host holds the board
 * also says so to the log handler. */
#define VOXA_OPEN_NONE      0 /* no open has failed yet */
#define VOXA_OPEN_SYSTEM    1 /* the system refused: connection refused, no such device, ... */
#define VOXA_OPEN_NO_ANSWER 2 /* the board did not answer within the connect time */
#define VOXA_OPEN_HELD      3 /* the board serves another host and turned this one away */
VOXA_API int VOXA_CALL VOXA_Get_OpenError(int* os_error, char* text, int len);

/* ---- Board selection, errors, versions, links ----
 * Guarded exports (all but those marked "no board") first clear the error
 * flag, then fail with -10 (current board outside 0..7) or -21 (not open). */
/* Selects board id 0..7 for every following call: 1; 0 with -10 (id outside
 * 0..7) or -21 (slot not open), the selection unchanged. */
VOXA_API int  VOXA_CALL VOXA_Set_BoardID(int id);
VOXA_API int  VOXA_CALL VOXA_Get_BoardID(void);     /* the current board 0..7; -1 on failure */
VOXA_API int  VOXA_CALL VOXA_Is_Err(void);          /* no board: 1 when the last guarded call failed, else 0 */
VOXA_API int  VOXA_CALL VOXA_Get_LastErr(void);     /* no board: code of the latest failure (kept after successes), 0 if none */
VOXA_API void VOXA_CALL VOXA_Enable_ErrBeep(int on); /* no board: nonzero beeps on failures (and a few successes) */
/* 1 when the keep-alive watchdog saw heartbeats: every 3.1 s it looks
 * whether one came since its last look, so the flag reads 0 for about the
 * first 3 s after an open and falls 3.1 to 6.2 s after the last heartbeat.
 * Otherwise 0 with the error state untouched. */
VOXA_API int  VOXA_CALL VOXA_Is_Link(void);
/* No board: the library version "VOXA-DLL-V01-R05.201" into buf, cut to
 * len-1 characters plus the terminator; nothing for len < 1 or a null buf. */
VOXA_API void VOXA_CALL VOXA_Get_DllVer(char* buf, int len);
VOXA_API void VOXA_CALL VOXA_Get_wDllVer(VOXA_WCHAR* buf, int len); /* the same, UTF-16; len in characters */
/* The engine version "Vmm.nn stage kind model" from CHIPSTATUS word 7 as the
 * board last reported it ("V00.00 - - -" before its first report); cut like
 * VOXA_Get_DllVer. */
VOXA_API void VOXA_CALL VOXA_Get_EngineVer(char* buf, int len);
/* Opens the first free slot over serial port `port` (low 16 bits; on
 * Windows COMn, from 5 on \\.\COMn; elsewhere 1 = /dev/ttyS0) at `baud` bit/s and
 * selects it: the board id; -1 with -20 (eight open) or -30 (the port
 * cannot be opened). */
VOXA_API int  VOXA_CALL VOXA_Open_Comm(int port, int baud);
/* As VOXA_Open_Comm for a device path (a tty, a pseudo-terminal); -1 with
 * -50 for a null path. */
VOXA_API int  VOXA_CALL VOXA_Open_CommDevice(const char* path, int baud);
/* Opens the first free slot over TCP: address IPv4 in network byte order
 * (first octet in the lowest byte), port low 16 bits, rate handed to the
 * link unchanged. Waits up to 3000 ms for the connection. The board id;
 * -1 with -20 or -30. */
VOXA_API int  VOXA_CALL VOXA_Open_Tcp(uint32_t address, int port, int rate);
/* No board: closes the current board (joining its threads) and selects the
 * lowest-numbered board still open; always 1. */
VOXA_API int  VOXA_CALL VOXA_Close(void);
/* Changes the open serial port's baud rate (bit/s): 1; 0 when the link is
 * not serial or the rate is refused. The board's own rate: VOXA_Set_MainBaudrate. */
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
