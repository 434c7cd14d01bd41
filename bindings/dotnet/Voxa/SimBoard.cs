using System;
using System.Runtime.InteropServices;
using System.Threading;

namespace Voxa
{
    /// <summary>A simulated board on 127.0.0.1 (libvoxa_sim), for tests:
    /// using var sim = new SimBoard(); using var board = sim.Open();</summary>
    public sealed class SimBoard : IDisposable
    {
        internal const string LibraryName = "voxa_sim";
        private IntPtr _handle;

        /// <summary>Starts a simulated board listening on TCP port (0: any free port).</summary>
        public SimBoard(int port = 0)
        {
            _handle = Sim.voxa_sim_start_tcp(port);
            if (_handle == IntPtr.Zero) throw new InvalidOperationException($"the simulated board could not listen on port {port}");
        }

        private IntPtr H => _handle != IntPtr.Zero ? _handle : throw new ObjectDisposedException(nameof(SimBoard));

        public int Port => Sim.voxa_sim_port(H);

        /// <summary>Opens the library's link to this board.</summary>
        public Board Open() => Board.Tcp("127.0.0.1", Port);

        public bool IsConnected => Sim.voxa_sim_is_connected(H) != 0;
        public bool WaitConnection(int count = 1, int timeoutMs = 2000) => Sim.voxa_sim_wait_connection(H, count, (uint)timeoutMs) != 0;
        /// <summary>The axis's position on the board itself, pulses.</summary>
        public int Position(int axis) => Sim.voxa_sim_position(H, axis);
        public bool IsIdle => Sim.voxa_sim_is_idle(H) != 0;
        public bool WaitIdle(int timeoutMs = 5000) => Sim.voxa_sim_wait_idle(H, (uint)timeoutMs) != 0;
        public uint Reg(int reg, int word) => Sim.voxa_sim_get_reg(H, reg, word);
        public void SetReg(int reg, int word, uint value) => Sim.voxa_sim_set_reg(H, reg, word, value);
        /// <summary>Holds the board's queue: commands wait, nothing runs.</summary>
        public void HoldQueue(bool hold = true) => Sim.voxa_sim_hold_queue(H, hold ? 1 : 0);
        /// <summary>Forces a limit input: null follows the positional switch.</summary>
        public void SetLimitInput(int axis, bool? lower, bool? upper) =>
            Sim.voxa_sim_set_limit_input(H, axis, Code(lower), Code(upper));
        public void SetLimitPositions(int axis, bool enabled, int lo, int hi) =>
            Sim.voxa_sim_set_limit_positions(H, axis, enabled ? 1 : 0, lo, hi);
        public void SetHeartbeat(bool on) => Sim.voxa_sim_set_heartbeat(H, on ? 1 : 0);
        public void DropConnection() => Sim.voxa_sim_drop_connection(H);
        public void GoSilent(int ms) => Sim.voxa_sim_go_silent(H, (uint)ms);

        /// <summary>Frames received from the host so far.</summary>
        public long FrameCount => Sim.voxa_sim_frame_count(H);
        /// <summary>Waits for the first frame from fromSeq on whose code (opcode
        /// without the immediate flag) is code (-1: any); its seq, or -1 at the timeout.</summary>
        public long WaitFrame(int code, long fromSeq = 0, int timeoutMs = 2000) =>
            Sim.voxa_sim_wait_frame(H, code, fromSeq, (uint)timeoutMs);
        /// <summary>The opcode of frame seq as received (0x80: immediate), or -1
        /// when it is no longer kept.</summary>
        public int FrameOpcode(long seq) => Sim.voxa_sim_get_frame(H, seq, out var f) != 0 ? f.Opcode : -1;

        private static int Code(bool? v) => v is bool b ? (b ? 1 : 0) : -1;

        /// <summary>Stops the board and frees it.</summary>
        public void Dispose()
        {
            IntPtr h = Interlocked.Exchange(ref _handle, IntPtr.Zero);
            if (h != IntPtr.Zero) Sim.voxa_sim_stop(h);
        }

        [StructLayout(LayoutKind.Sequential)]
        private struct Frame
        {
            public long Seq;
            public uint TimeMs;
            public byte Opcode, Code, Kind, Mask, Descriptor;
            public sbyte Reg;
            public short Tag;
            public int Count;
            [MarshalAs(UnmanagedType.ByValArray, SizeConst = 8)] public uint[] Values;
        }

        private static class Sim
        {
            [DllImport(LibraryName)] public static extern long voxa_sim_frame_count(IntPtr sim);
            [DllImport(LibraryName)] public static extern long voxa_sim_wait_frame(IntPtr sim, int code, long fromSeq, uint timeoutMs);
            [DllImport(LibraryName)] public static extern int voxa_sim_get_frame(IntPtr sim, long seq, out Frame frame);
            [DllImport(LibraryName)] public static extern IntPtr voxa_sim_start_tcp(int port);
            [DllImport(LibraryName)] public static extern void voxa_sim_stop(IntPtr sim);
            [DllImport(LibraryName)] public static extern int voxa_sim_port(IntPtr sim);
            [DllImport(LibraryName)] public static extern int voxa_sim_is_connected(IntPtr sim);
            [DllImport(LibraryName)] public static extern int voxa_sim_wait_connection(IntPtr sim, int count, uint timeoutMs);
            [DllImport(LibraryName)] public static extern uint voxa_sim_get_reg(IntPtr sim, int reg, int word);
            [DllImport(LibraryName)] public static extern void voxa_sim_set_reg(IntPtr sim, int reg, int word, uint value);
            [DllImport(LibraryName)] public static extern int voxa_sim_position(IntPtr sim, int axis);
            [DllImport(LibraryName)] public static extern int voxa_sim_is_idle(IntPtr sim);
            [DllImport(LibraryName)] public static extern int voxa_sim_wait_idle(IntPtr sim, uint timeoutMs);
            [DllImport(LibraryName)] public static extern void voxa_sim_set_heartbeat(IntPtr sim, int on);
            [DllImport(LibraryName)] public static extern void voxa_sim_hold_queue(IntPtr sim, int hold);
            [DllImport(LibraryName)] public static extern void voxa_sim_set_limit_input(IntPtr sim, int axis, int lower, int upper);
            [DllImport(LibraryName)] public static extern void voxa_sim_set_limit_positions(IntPtr sim, int axis, int enabled, int lo, int hi);
            [DllImport(LibraryName)] public static extern void voxa_sim_drop_connection(IntPtr sim);
            [DllImport(LibraryName)] public static extern void voxa_sim_go_silent(IntPtr sim, uint ms);
        }
    }
}
