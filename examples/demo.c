/*
 * voxa-demo: drives a simulated board through the public C API.
 *
 * Starts a simulated board on a loopback port, opens it over TCP, configures
 * two axes, runs a short program (a line, an arc, a homing) tagged with
 * command IDs, shows the axis positions while it runs and closes the board.
 * Uses include/voxa/voxa.h only, plus the simulator's C interface to start
 * the board (tools/sim/sim_c.h).
 */
#ifdef _WIN32
#include <io.h>
#define STDOUT_IS_TERMINAL() _isatty(_fileno(stdout))
#else
#define _POSIX_C_SOURCE 200809L
#include <unistd.h>
#define STDOUT_IS_TERMINAL() isatty(fileno(stdout))
#endif
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "voxa/voxa.h"
#include "sim_c.h"

#define AXES 0x03            /* axes 0 (X) and 1 (Y) */
#define COMPLETE_MSG 0x0401u /* the message number we register for completions */
#define LAST_ID 3

/* Command IDs reported complete, set by the library's receive thread. */
static atomic_int g_completed[256];
static atomic_int g_completions;

static void VOXA_CALL OnMessage(VOXA_HWND window, unsigned int message, uintptr_t wparam, intptr_t lparam) {
  (void)window;
  (void)wparam;
  if (message != COMPLETE_MSG) return;
  atomic_store(&g_completed[lparam & 0xFF], 1);
  atomic_fetch_add(&g_completions, 1);
}

/* The path of X and Y as the board reported it: one sample per state
 * report that carried the positions, taken on the library's dispatch
 * thread; read by main once the handler is unset. */
#define MAX_SAMPLES 8192
static int g_path[MAX_SAMPLES][2];
static atomic_int g_samples;

static void VOXA_CALL OnState(int board, uint32_t registers, uint64_t time_us) {
  (void)board;
  (void)time_us;
  const int n = atomic_load(&g_samples);
  if (!(registers & (1u << VOXA_REG_CURPOS)) || n >= MAX_SAMPLES) return;
  g_path[n][0] = VOXA_Get_CurPos(0x01);
  g_path[n][1] = VOXA_Get_CurPos(0x02);
  atomic_store(&g_samples, n + 1);
}

/* The recorded path as an SVG picture, X and Y at equal scale. */
static int WritePathSvg(const char* path, int n) {
  if (n < 1) return 0;
  int lo[2] = {g_path[0][0], g_path[0][1]}, hi[2] = {g_path[0][0], g_path[0][1]};
  for (int i = 1; i < n; ++i)
    for (int k = 0; k < 2; ++k) {
      if (g_path[i][k] < lo[k]) lo[k] = g_path[i][k];
      if (g_path[i][k] > hi[k]) hi[k] = g_path[i][k];
    }
  const double span = (hi[0] - lo[0] > hi[1] - lo[1] ? hi[0] - lo[0] : hi[1] - lo[1]) + 1.0;
  const double scale = 600.0 / span, margin = 50.0;
  const double w = (hi[0] - lo[0]) * scale + 2 * margin, h = (hi[1] - lo[1]) * scale + 2 * margin;
  FILE* f = fopen(path, "w");
  if (!f) return 0;
  fprintf(f,
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" font-family=\"sans-serif\" "
          "font-size=\"13\">\n<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n"
          "<text x=\"%.0f\" y=\"24\" text-anchor=\"middle\">voxa-demo: X/Y path (pulses), line, arc, homing</text>\n"
          "<text x=\"%.0f\" y=\"%.0f\">(%d, %d)</text><text x=\"%.0f\" y=\"%.0f\" text-anchor=\"end\">(%d, %d)</text>\n"
          "<path fill=\"none\" stroke=\"#1f77b4\" stroke-width=\"2\" stroke-linejoin=\"round\" d=\"",
          w, h, w / 2, margin - 10, h - margin + 30, lo[0], lo[1], w - margin + 10, margin - 10, hi[0], hi[1]);
  for (int i = 0; i < n; ++i)
    fprintf(f, "%s%.1f %.1f", i ? " L" : "M", margin + (g_path[i][0] - lo[0]) * scale,
            h - margin - (g_path[i][1] - lo[1]) * scale);
  fprintf(f, "\"/>\n</svg>\n");
  return fclose(f) == 0;
}

static int Fail(const char* what, voxa_sim_board* sim) {
  fprintf(stderr, "\nvoxa-demo: %s failed (error %d)\n", what, VOXA_Get_LastErr());
  VOXA_Close();
  voxa_sim_stop(sim);
  return 1;
}

/* On a terminal one line, rewritten in place; in a log or a pipe a line
 * per stage, without carriage returns. */
static int g_terminal;

static void Progress(const char* stage) {
  static const char* shown;
  char id[16] = "-";
  const int exe = VOXA_Get_ExeCmdID();
  if (exe >= 0 && exe != VOXA_CMDID_NONE) snprintf(id, sizeof id, "#%d", exe);
  if (!g_terminal && shown && strcmp(shown, stage) == 0) return;
  shown = stage;
  printf(g_terminal ? "\r  %-6s X=%7d  Y=%7d  executing %-4s board queue %-3d"
                    : "  %-6s X=%7d  Y=%7d  executing %-4s board queue %d\n",
         stage, VOXA_Get_CurPos(0x01), VOXA_Get_CurPos(0x02), id, VOXA_Get_EngineQueueLeftCmd());
  fflush(stdout);
}

/* The configuration file: the path given on the command line, else
 * voxa-demo.ini next to the program (its build folder). */
static void ConfigPath(char* path, size_t size, const char* given, const char* program) {
  if (given) {
    snprintf(path, size, "%s", given);
    return;
  }
  const char* slash = strrchr(program, '/');
#ifdef _WIN32
  const char* backslash = strrchr(program, '\\'); /* as in C:\...\voxa-demo.exe */
  if (backslash && (!slash || backslash > slash)) slash = backslash;
#endif
  const int dir = slash ? (int)(slash - program) + 1 : 0;
  snprintf(path, size, "%.*svoxa-demo.ini", dir, program);
}

int main(int argc, char** argv) {
  char text[128];
  g_terminal = STDOUT_IS_TERMINAL();

  voxa_sim_board* sim = voxa_sim_start_tcp(0);
  if (!sim) {
    fprintf(stderr, "voxa-demo: cannot start the simulated board\n");
    return 1;
  }
  VOXA_Get_DllVer(text, (int)sizeof text);
  printf("libvoxa %s\n", text);
  printf("Simulated board listening on 127.0.0.1:%d\n", voxa_sim_port(sim));

  /* Open it over TCP: the address is 127.0.0.1 in network byte order. */
  int board = VOXA_Open_Tcp(voxa_sim_loopback_address(), voxa_sim_port(sim), 0);
  if (board < 0) return Fail("VOXA_Open_Tcp", sim);
  printf("Opened board %d\n", board);

  /* Completions reach us as messages from the receive thread. */
  VOXA_Set_MessageHandler(OnMessage);
  VOXA_Register_Complete_Message((VOXA_HWND)1, COMPLETE_MSG);
  VOXA_Enable_CompleteStatePacket(1);
  /* State packets every 25 ms with the chip and axis status, positions and
   * velocities. Each one reaches OnState, which records the path. */
  VOXA_Set_StateHandler(OnState);
  VOXA_Set_StateTimer(VOXA_STATE_TIMER_25MS | VOXA_STATE_TIMER_CHIPSTATUS | VOXA_STATE_TIMER_AXISSTATUS |
                      VOXA_STATE_TIMER_CURPOS | VOXA_STATE_TIMER_CURVEL);

  /* The engine version arrives with the first state packet. */
  for (int i = 0; i < 100; ++i) {
    VOXA_Get_EngineVer(text, (int)sizeof text);
    if (strncmp(text, "V00.00", 6) != 0) break;
    VOXA_Sleep(10);
  }
  printf("Engine %s\n", text);

  /* Two axes: pulse mode 0, hardware limits on, soft limits at +-50000,
   * velocity profile 100 -> 4000 pulses/s, acceleration 20 (x1000 p/s^2). */
  if (!VOXA_Set_PulseMode(AXES, 0)) return Fail("VOXA_Set_PulseMode", sim);
  VOXA_Enable_LowerLimit(AXES, 1);
  VOXA_Enable_UpperLimit(AXES, 1);
  VOXA_Set_SoftLowerLimit(AXES, -50000);
  VOXA_Set_SoftUpperLimit(AXES, 50000);
  VOXA_Enable_SoftLowerLimit(AXES, 1);
  VOXA_Enable_SoftUpperLimit(AXES, 1);
  VOXA_Set_StartVel(100);
  VOXA_Set_DriveVel(4000);
  VOXA_Set_Acc(20);
  VOXA_Set_Dec(20);
  VOXA_Set_HomeSeekVel(AXES, 6000);
  VOXA_Set_CurPos(AXES, 0);
  printf("Axes X and Y configured: pulse mode %d, drive velocity %d, acceleration %d\n", VOXA_Get_PulseMode(0x01),
         VOXA_Get_DriveVel(), VOXA_Get_Acc());

  /* The program, queued on the board, one command ID each. */
  const int line_end[8] = {3000, 2000};
  const int arc_centre[8] = {3000, 0};
  const int arc_end[8] = {5000, 0};
  VOXA_Set_CmdID(1);
  VOXA_Line(AXES, line_end);
  VOXA_Set_CmdID(2);
  VOXA_ArcCW(AXES, arc_centre, arc_end);
  VOXA_Set_CmdID(LAST_ID);
  VOXA_Home(AXES, 0);
  VOXA_Set_CmdID(VOXA_CMDID_NONE); /* later commands report no completion */
  printf("Program: #1 line to (3000, 2000), #2 CW arc around (3000, 0) to (5000, 0), #3 home\n");

  /* Wait for the last command, showing the positions meanwhile. */
  int done = 0;
  for (int ticks = 0; ticks < 120 && !done; ++ticks) {
    const int id = VOXA_Get_ExeCmdID();
    Progress(id == 1 ? "line" : id == 2 ? "arc" : id == LAST_ID ? "home" : "start");
    done = VOXA_WaitMotion(LAST_ID, 100) || atomic_load(&g_completed[LAST_ID]);
  }
  /* Ask the board where it stands now, rather than trust the last state packet. */
  if (done && !VOXA_Refresh(VOXA_REFRESH_STATUS, 500)) done = 0;
  Progress("done");
  if (g_terminal) printf("\n");
  if (!done) return Fail("waiting for the program", sim);

  VOXA_Set_StateHandler(NULL); /* returns once OnState has finished */
  const int x = VOXA_Get_CurPos(0x01), y = VOXA_Get_CurPos(0x02);
  const int link = VOXA_Is_Link();
  /* Keep the board's configuration: registers and PID setups, as a file that
   * VOXA_Load_ConfigFile can put back onto this or another board. */
  char config_path[512];
  ConfigPath(config_path, sizeof config_path, argc > 1 ? argv[1] : NULL, argv[0]);
  if (VOXA_Save_ConfigFile(config_path))
    printf("Configuration saved to %s\n", config_path);
  else
    printf("Saving the configuration failed: %s\n", VOXA_Get_ErrText(VOXA_Get_LastErr()));
  /* The path picture goes next to the configuration file. */
  char svg_path[600];
  const char* slash = strrchr(config_path, '/');
  snprintf(svg_path, sizeof svg_path, "%.*svoxa-demo-path.svg", slash ? (int)(slash - config_path + 1) : 0, config_path);
  const int samples = atomic_load(&g_samples);
  if (WritePathSvg(svg_path, samples))
    printf("Path of X and Y (%d state reports) drawn in %s\n", samples, svg_path);
  printf("Summary: %d commands completed (#1 %s, #2 %s, #3 %s), final position X=%d Y=%d, link %s\n",
         atomic_load(&g_completions), atomic_load(&g_completed[1]) ? "ok" : "-",
         atomic_load(&g_completed[2]) ? "ok" : "-", atomic_load(&g_completed[3]) ? "ok" : "-", x, y,
         link ? "up" : "not yet confirmed");
  VOXA_Unregister_Complete_Message();
  VOXA_Close();
  voxa_sim_stop(sim);
  printf("Board closed.\n");
  return (x == 0 && y == 0) ? 0 : 1;
}
