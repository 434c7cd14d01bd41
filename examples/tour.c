#include <stdio.h>
#include <stdlib.h>
#include "voxa/voxa.h"

/* tour [ADDRESS [PORT]]: a line on axes 0 and 1, then where the board stands. */
int main(int argc, char** argv) {
  unsigned a = 192, b = 168, c = 0, d = 50;   /* the board's IPv4 address */
  if (argc > 1 && sscanf(argv[1], "%u.%u.%u.%u", &a, &b, &c, &d) != 4) return 2;
  const int port = argc > 2 ? atoi(argv[2]) : 1000;
  /* The address in network byte order: first octet in the lowest byte. */
  if (VOXA_Open_Tcp(a | b << 8 | c << 16 | (uint32_t)d << 24, port, 0) < 0) {
    int code = VOXA_Get_LastErr();
    fprintf(stderr, "open failed: error %d: %s\n", code, VOXA_Get_ErrText(code));
    return 1;
  }
  VOXA_Enable_CompleteStatePacket(1);     /* the board reports completed command IDs */
  VOXA_Set_DriveVel(4000);
  const int end[8] = {1000, 2000};        /* indexed by axis */
  VOXA_Set_CmdID(1);
  VOXA_Line(0x03, end);                   /* axes 0 and 1 */
  int ok = 0;
  /* Wait for the board to report the line complete, then ask it for its
   * status registers: the getters show where it stands now. */
  if (!VOXA_WaitMotion(1, 10000) || !VOXA_Refresh(VOXA_REFRESH_STATUS, 500))
    printf("no report of the line, or of the status, in time\n");
  else if (VOXA_Is_Alarm())               /* a limit, an alarm or an e-stop ended it */
    printf("stopped at %d, %d: alarm code 0x%X\n", VOXA_Get_CurPos(0x01), VOXA_Get_CurPos(0x02),
           (unsigned)VOXA_Get_Alarm());
  else
    ok = printf("at %d, %d\n", VOXA_Get_CurPos(0x01), VOXA_Get_CurPos(0x02)) > 0;
  VOXA_Close();
  return ok ? 0 : 1;
}
