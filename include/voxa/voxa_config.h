/* voxa_config.h - Configuration file. Included by voxa.h. */
#ifndef VOXA_VOXA_CONFIG_H
#define VOXA_VOXA_CONFIG_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

/* ---- Configuration file: the current board's register words and PID
 *      setups, saved to and loaded from an INI-style text file ----
 *
 * Saves return 1 when the file was written, else 0 (error -40); the file
 * keeps its other sections and entries, and a failed save leaves it as it
 * was. Loads return 1 when the file was loaded onto the board; 0 when it
 * does not exist (no error) or cannot be loaded (error -41; nothing is
 * changed or sent). A null path fails like a path that names no file
 * (-40 for saves, 0 for loads). 16-bit paths are
 * UTF-16; 8-bit paths are in the calling thread's ANSI code page on Windows, UTF-8
 * elsewhere. A load says "ok...file exist\n" (and
 * VOXA_Load_wConfigFile "file not exist\n" for a missing file) through the
 * log handler (VOXA_Set_LogHandler). A save waits about 40 ms. A load (about
 * 0.5 s) sends every register word and the PID setups to the board, then
 * resets the PID controllers and the alarm, enables execution and cancels
 * the running command. */
VOXA_API int VOXA_CALL VOXA_Save_wConfigFile(const VOXA_WCHAR* path); /* saves to a UTF-16 path: 1, or 0 (-40) */
VOXA_API int VOXA_CALL VOXA_Save_ConfigFile(const char* path);        /* saves to an 8-bit path: 1, or 0 (-40) */
/* As VOXA_Save_ConfigFile (extension), but every register the board has
 * reported since the link came up (state packet or read reply) is saved
 * with the words the board reported; the others as the register image holds
 * them. The settings registers of the image hold only what this process
 * set, so this saves what the board holds, whoever set it. The board
 * reports the settings registers to the library's polls about every 1.5 s:
 * VOXA_Refresh them first for the words as they are now (VOXA_Get_RegAge
 * tells how old they are). The status registers are saved as 0, as by
 * VOXA_Save_ConfigFile. Returns 1, or 0 (-40). */
VOXA_API int VOXA_CALL VOXA_Save_ReportedConfigFile(const char* path);
VOXA_API int VOXA_CALL VOXA_Load_wConfigFile(const VOXA_WCHAR* path); /* loads from a UTF-16 path: 1; 0 missing, or 0 (-41) */
VOXA_API int VOXA_CALL VOXA_Load_ConfigFile(const char* path);        /* loads from an 8-bit path: 1; 0 missing, or 0 (-41) */

#ifdef __cplusplus
}
#endif
#endif
