/* A C program against voxa.dll, built in both Windows builds. It takes the
 * address of every function the headers declare, so that it links only
 * when the import library holds each of them (on 32-bit x86 under its
 * decorated __stdcall name) and imports them all by their plain names.
 * Under Wine it drives a board for the checks against the Linux build:
 *
 *   consumer                    the library's version text
 *   consumer tcp PORT           a line on a board at 127.0.0.1:PORT
 *   consumer com N              the same on serial port COMn
 *   consumer config PORT FILE   sets a register image, saves it to FILE
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "voxa/voxa.h"

_Static_assert(sizeof(VOXA_WCHAR) == 2, "VOXA_WCHAR is a UTF-16 unit");
_Static_assert(sizeof(VOXA_HWND) == sizeof(void*), "VOXA_HWND holds a window handle");
_Static_assert(sizeof(int) == 4 && sizeof(uint32_t) == 4, "arguments and results are 32-bit");

typedef void (*AnyFunction)(void);

static int CountExports(void) {
  volatile AnyFunction f;
  int n = 0;
#define VOXA_EXPORT(name) \
  f = (AnyFunction)name;  \
  n += f != NULL;
#include "voxa_exports.inc"
#undef VOXA_EXPORT
  return n;
}

static int Fail(const char* what) {
  int code = VOXA_Get_LastErr();
  fprintf(stderr, "consumer: %s failed: error %d: %s\n", what, code, VOXA_Get_ErrText(code));
  VOXA_Close();
  return 1;
}

/* A line on axes 0 and 1 to (1000, 2000); the board must report it
 * complete and stand there. */
static int RunLine(void) {
  char engine[64];
  const int end[8] = {1000, 2000};
  VOXA_Enable_CompleteStatePacket(1);
  VOXA_Set_DriveVel(200000);
  VOXA_Set_CmdID(7);
  if (!VOXA_Line(0x03, end)) return Fail("VOXA_Line");
  if (!VOXA_WaitMotion(7, 5000)) return Fail("VOXA_WaitMotion");
  if (!VOXA_Refresh(VOXA_REFRESH_STATUS, 2000)) return Fail("VOXA_Refresh");
  VOXA_Get_EngineVer(engine, (int)sizeof engine);
  printf("engine %s\nat %d, %d\n", engine, VOXA_Get_CurPos(0x01), VOXA_Get_CurPos(0x02));
  if (VOXA_Get_CurPos(0x01) != 1000 || VOXA_Get_CurPos(0x02) != 2000) return Fail("the line's end");
  VOXA_Close();
  return 0;
}

/* Every word of every register gets a value of its own, then the image
 * goes to the file. */
static int SaveImage(const char* path) {
  for (int reg = 0; reg < 32; ++reg)
    for (int word = 0; word < 8; ++word)
      if (!VOXA_Set_RegWord(reg, word, (uint32_t)reg * 0x01010101u + (uint32_t)word * 0x01234567u))
        return Fail("VOXA_Set_RegWord");
  if (!VOXA_Save_ConfigFile(path)) return Fail("VOXA_Save_ConfigFile");
  VOXA_Close();
  return 0;
}

int main(int argc, char** argv) {
  const uint32_t loopback = 0x0100007Fu; /* 127.0.0.1, first octet lowest */
  char version[32];
  VOXA_Get_DllVer(version, (int)sizeof version);
  if (argc == 1) {
    printf("%s, %d exports\n", version, CountExports());
    return strcmp(version, "VOXA-DLL-V01-R05.201") == 0 ? 0 : 1;
  }
  if (argc == 3 && strcmp(argv[1], "tcp") == 0) {
    if (VOXA_Open_Tcp(loopback, atoi(argv[2]), 0) < 0) return Fail("VOXA_Open_Tcp");
    return RunLine();
  }
  if (argc == 3 && strcmp(argv[1], "com") == 0) {
    if (VOXA_Open_Comm(atoi(argv[2]), 115200) < 0) return Fail("VOXA_Open_Comm");
    return RunLine();
  }
  if (argc == 4 && strcmp(argv[1], "config") == 0) {
    if (VOXA_Open_Tcp(loopback, atoi(argv[2]), 0) < 0) return Fail("VOXA_Open_Tcp");
    return SaveImage(argv[3]);
  }
  fprintf(stderr, "usage: consumer [tcp PORT | com N | config PORT FILE]\n");
  return 2;
}
