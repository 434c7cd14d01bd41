/* voxa_tools.h - Register words and register names, for tools and scripts. Included by voxa.h. */
#ifndef VOXA_VOXA_TOOLS_H
#define VOXA_VOXA_TOOLS_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

/* ---- Register words (extensions) ----
 *
 * The register image holds 32 registers (0 CHIPSET ... 31 CUSTOM) of eight
 * 32-bit words. For settings registers it holds what the host last set; for
 * status registers what the board last reported.
 *
 * VOXA_Get_RegWord: *value := word `word` of register `reg` in the current
 * board's register image. Returns 1; 0 on failure (board guard: -10, -21;
 * reg outside 0..31, word outside 0..7 or a null value: -50, *value
 * untouched). Sends nothing.
 *
 * VOXA_Set_RegWord: sets the word in the register image, then sends one
 * register write of that word, queued or immediate by the command mode and
 * tagged with the register-write tag (VOXA_Set_CmdID), like every setter.
 * Returns 1; 0 on failure (board guard; reg or word outside their range:
 * -50, nothing changed or sent).
 *
 * VOXA_Get_RegName: the register's name ("CHIPSET" ... "CUSTOM"), a static
 * text; NULL for reg outside 0..31. Needs no board and leaves the error
 * state alone. */
VOXA_API int VOXA_CALL VOXA_Get_RegWord(int reg, int word, uint32_t* value); /* reg VOXA_REG_..., word 0..7: 1, or 0 */
/* As VOXA_Get_RegWord, but the word as the board last reported it (in a
 * state packet or a read reply: the library's polls reach every register
 * but CAL2 and CAL3 about every 1.5 s), also for the settings registers,
 * whose image words hold what the host set. 0 until the board reported it
 * since the library loaded; VOXA_Get_RegAge tells how old it is. */
VOXA_API int VOXA_CALL VOXA_Get_ReportedRegWord(int reg, int word, uint32_t* value);
VOXA_API int VOXA_CALL VOXA_Set_RegWord(int reg, int word, uint32_t value);  /* sets and writes one word: 1, or 0 */
VOXA_API const char* VOXA_CALL VOXA_Get_RegName(int reg);                    /* "CHIPSET" ... "CUSTOM"; NULL outside 0..31 */

#ifdef __cplusplus
}
#endif
#endif
