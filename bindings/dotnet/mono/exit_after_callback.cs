// A mono program that declares the few exports it needs by hand, sets a
// state handler, gets a call from the library's dispatch thread and leaves
// Main with the board still open and its state packets still coming.
// mono waits at its exit for every thread that ran managed code: the
// dispatch thread must not hold it there.
using System;
using System.Runtime.InteropServices;
using System.Threading;

static class ExitAfterCallback {
  [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
  delegate void StateHandler(int board, uint registers, ulong timeUs);

  [DllImport("voxa_sim")] static extern IntPtr voxa_sim_start_tcp(int port);
  [DllImport("voxa_sim")] static extern int voxa_sim_port(IntPtr sim);
  [DllImport("voxa_sim")] static extern uint voxa_sim_loopback_address();
  [DllImport("voxa")] static extern int VOXA_Open_Tcp(uint address, int port, int rate);
  [DllImport("voxa")] static extern void VOXA_Set_StateHandler(StateHandler handler);
  [DllImport("voxa")] static extern int VOXA_Set_StateTimer(int flags);

  static StateHandler keep;  // alive for as long as the library may call it

  static int Main() {
    IntPtr sim = voxa_sim_start_tcp(0);
    if (sim == IntPtr.Zero || VOXA_Open_Tcp(voxa_sim_loopback_address(), voxa_sim_port(sim), 0) < 0) return 2;
    var called = new ManualResetEvent(false);
    keep = (board, registers, timeUs) => called.Set();
    VOXA_Set_StateHandler(keep);
    VOXA_Set_StateTimer(0x3E02);  // state packets every 25 ms
    if (!called.WaitOne(5000)) return 3;
    Console.WriteLine("handler called; leaving Main");
    return 0;
  }
}
