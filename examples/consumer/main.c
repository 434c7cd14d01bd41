/*
 * voxa-consumer: a program built against the installed libvoxa. It opens no
 * board; it checks that the header, the library and the error texts agree.
 */
#include <stdio.h>
#include <string.h>

#include "voxa/voxa.h"

int main(void) {
  char version[32];
  VOXA_Get_DllVer(version, (int)sizeof version);

  /* No board is open: a guarded call fails with "board id outside 0..7". */
  const int id = VOXA_Get_BoardID();
  const int code = VOXA_Get_LastErr();
  const char* curpos = VOXA_Get_RegName(6);

  printf("%s; no board open: VOXA_Get_BoardID() = %d, error %d (%s); register 6 is %s\n", version, id, code,
         VOXA_Get_ErrText(code), curpos ? curpos : "(none)");
  const int ok = strncmp(version, "VOXA-DLL-", 9) == 0 && id == -1 && code == VOXA_ERR_BOARD_ID &&
                 VOXA_Is_Err() == 1 && curpos != NULL && strcmp(curpos, "CURPOS") == 0;
  return ok ? 0 : 1;
}
