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
 * UTF-16; 8-bit paths are UTF-8. */
VOXA_API int VOXA_CALL VOXA_Save_wConfigFile(const VOXA_WCHAR* path);
VOXA_API int VOXA_CALL VOXA_Save_ConfigFile(const char* path);
VOXA_API int VOXA_CALL VOXA_Load_wConfigFile(const VOXA_WCHAR* path);
VOXA_API int VOXA_CALL VOXA_Load_ConfigFile(const char* path);

#ifdef __cplusplus
}
#endif
#endif
