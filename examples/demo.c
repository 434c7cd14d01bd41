/* Interim demo: prints the library version. Replaced by the full demo. */
#include <stdio.h>
#include "voxa/voxa.h"

int main(void) {
  char ver[64] = {0};
  VOXA_Get_DllVer(ver, (int)sizeof ver);
  printf("libvoxa %s\n", ver);
  return 0;
}
