/* A C program as Microsoft's toolchain builds it (clang's MSVC target,
 * lld-link in place of link.exe), linked against voxa.lib alone: no C
 * runtime, ExitProcess from kernel32. It takes the address of every
 * function the headers declare, so it links only when voxa.lib holds each
 * of them (on 32-bit x86 under its decorated __stdcall name), and calls a
 * few. Exit code 0 when the library answers as the headers say. */
#include "voxa/voxa.h"

__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

typedef void (*AnyFunction)(void);

static int CountExports(void) {
  volatile AnyFunction f;
  int n = 0;
#define VOXA_EXPORT(name) \
  f = (AnyFunction)name;  \
  n += f != 0;
#include "voxa_exports.inc"
#undef VOXA_EXPORT
  return n;
}

void __cdecl Start(void) {
  static const char expected[] = "VOXA-DLL-";
  char version[32];
  unsigned int failed = 0;
  VOXA_Get_DllVer(version, (int)sizeof version);
  for (int k = 0; expected[k] != 0; ++k) failed |= version[k] != expected[k];
  /* No board is open: a guarded call fails with "board id outside 0..7". */
  failed |= (VOXA_Get_BoardID() != -1) << 1;
  failed |= (VOXA_Get_LastErr() != VOXA_ERR_BOARD_ID) << 2;
  failed |= (CountExports() == 0) << 3;
  ExitProcess(failed);
}
