/*
 * voxa-consumer-sim: a program built against the installed libvoxa and
 * libvoxa_sim. It starts a simulated board, moves one axis and checks where
 * the board put it.
 */
#include <stdio.h>

#include "voxa/sim_c.h"
#include "voxa/voxa.h"

int main(void) {
  voxa_sim_board* sim = voxa_sim_start_tcp(0);
  if (sim == NULL) return 1;
  int ok = VOXA_Open_Tcp(voxa_sim_loopback_address(), voxa_sim_port(sim), 0) >= 0;
  if (ok) {
    const int end[8] = {500};
    VOXA_Enable_CompleteStatePacket(1);
    VOXA_Set_CmdID(1);
    VOXA_Line(0x01, end);
    ok = VOXA_WaitMotion(1, 5000) == 1 && voxa_sim_position(sim, 0) == 500;
    VOXA_Close();
  }
  printf("simulated board: axis 0 at %d\n", (int)voxa_sim_position(sim, 0));
  voxa_sim_stop(sim);
  return ok ? 0 : 1;
}
