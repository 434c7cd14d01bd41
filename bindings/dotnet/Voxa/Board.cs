using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Net;
using System.Net.Sockets;
using System.Text;
using System.Threading;
using System.Threading.Tasks;
using Voxa.Interop;

namespace Voxa
{
    /// <summary>One open board. Open it with <see cref="Tcp"/>, <see cref="Serial(string, int)"/>
    /// or <see cref="SimBoard.Open"/>; dispose it to close it.
    ///
    /// Every call first makes the board the calling thread's own
    /// (VOXA_Set_ThreadBoardID), so several boards and threads can be used at
    /// once: each thread acts on the board it calls, with its own error state,
    /// and a Stop from one thread reaches the board while another waits on it.
    /// Opening a board switches its completion reports on, so that WaitMotion
    /// hears of every command that carries an ID. Axes are numbered 0..7;
    /// positions in pulses, velocities in pulses/s, accelerations in
    /// (pulses/s)/ms. Every call the library refuses throws VoxaException.</summary>
    public sealed class Board : IDisposable
    {
        /// <summary>No command ID: commands carry no tag.</summary>
        public const int NoId = Native.VOXA_CMDID_NONE;
        /// <summary>WaitMotion: any completion.</summary>
        public const int AnyId = Native.VOXA_CMDID_ANY;
        /// <summary>The status registers a refresh asks for by default.</summary>
        public const uint RefreshStatus = Native.VOXA_REFRESH_STATUS;

        private const uint CompleteMessage = 0x0401;
        // A wait is taken in slices of this long, so that a cancellation gets
        // through. The library keeps a report of an ID from the moment a
        // command carrying it was sent, so a report landing between two slices
        // ends the next one.
        private const int WaitSliceMs = 50;
        private static long _windows = 0x1000;

        // Held through sequences of calls that must not be split (a command
        // with its ID, an immediate group); single calls and waits never take it.
        private readonly object _lock = new();
        private readonly IntPtr _window = (IntPtr)Interlocked.Increment(ref _windows);
        private volatile bool _closed;
        private bool _completionsRegistered;

        public int Id { get; }
        public string Description { get; }
        public bool IsClosed => _closed;

        private Board(int id, string description)
        {
            Id = id;
            Description = description;
        }

        public override string ToString() => $"Board {Id} {Description} {(_closed ? "closed" : "open")}";

        // ------------------------------------------------------------ opening

        /// <summary>Opens a board over TCP: Board.Tcp("192.168.0.50", 1000).
        /// The host may be an IPv4 address or a name.</summary>
        public static Board Tcp(string host, int port = 1000, int rate = 0)
        {
            uint address;
            try { address = Ipv4(host); }
            catch (SocketException e)
            {
                throw new VoxaOpenException("VOXA_Open_Tcp", OpenFailure.Address, e.ErrorCode,
                                            $"the address {host} does not resolve: {e.Message}");
            }
            return Open(() => Native.VOXA_Open_Tcp(address, port, rate), "VOXA_Open_Tcp", $"tcp {host}:{port}");
        }

        /// <summary>Opens a board over a serial device ("/dev/ttyUSB0").</summary>
        public static Board Serial(string device, int baud = 115200)
        {
            ArgumentNullException.ThrowIfNull(device);
            return Open(() => Native.VOXA_Open_CommDevice(device, baud), "VOXA_Open_CommDevice", $"serial {device}");
        }

        /// <summary>Opens a board over serial port number n (1: the first port).</summary>
        public static Board Serial(int port, int baud = 115200) =>
            Open(() => Native.VOXA_Open_Comm(port, baud), "VOXA_Open_Comm", $"serial port {port}");

        private static uint Ipv4(string host)
        {
            ArgumentNullException.ThrowIfNull(host);
            if (!IPAddress.TryParse(host, out var ip))
            {
                ip = Array.Find(Dns.GetHostAddresses(host), a => a.AddressFamily == AddressFamily.InterNetwork)
                     ?? throw new VoxaException(Native.VOXA_ERR_ARGUMENT, detail: $"{host} has no IPv4 address");
            }
            if (ip.AddressFamily != AddressFamily.InterNetwork)
                throw new VoxaException(Native.VOXA_ERR_ARGUMENT, detail: $"{host} is not an IPv4 address");
            // Network byte order, the first octet in the lowest byte.
            return BitConverter.ToUInt32(ip.GetAddressBytes(), 0) is var v && BitConverter.IsLittleEndian
                ? v : System.Buffers.Binary.BinaryPrimitives.ReverseEndianness(v);
        }

        private static Board Open(Func<int> open, string function, string description)
        {
            int id = open();
            if (id < 0)
            {
                int code = Native.VOXA_Get_LastErr();
                if (code == Native.VOXA_ERR_OPEN) throw VoxaOpenException.FromLibrary(function);
                throw new VoxaException(code, function, description);
            }
            var board = new Board(id, description);
            Callbacks.Attach(board);
            try
            {
                // A WaitMotion must not run to its timeout because the board keeps
                // its completions to itself. Immediate: a reset or a queue clear
                // right after the open must not throw the switch away.
                board.Immediate(() => board.Call(() => Native.VOXA_Enable_CompleteStatePacket(1), "VOXA_Enable_CompleteStatePacket"));
            }
            catch
            {
                board.Dispose();
                throw;
            }
            return board;
        }

        /// <summary>Closes the board; later calls throw VoxaException (-21). A
        /// wait on the board in another thread ends then.</summary>
        public void Dispose()
        {
            lock (_lock)
            {
                if (_closed) return;
                _closed = true;
                if (Native.VOXA_Set_ThreadBoardID(Id) != 0)
                {
                    if (_completionsRegistered) Native.VOXA_Unregister_Complete_Message();
                    Native.VOXA_Close();
                }
            }
            Callbacks.Detach(this);
        }

        // ------------------------------------------------------------ calling

        /// <summary>Makes this board the calling thread's own.</summary>
        private void Select()
        {
            if (_closed) throw new VoxaException(Native.VOXA_ERR_NOT_OPEN, detail: $"board {Id} was closed");
            if (Native.VOXA_Set_ThreadBoardID(Id) == 0)
                throw new VoxaException(Native.VOXA_Get_LastErr(), "VOXA_Set_ThreadBoardID");
        }

        // The result of an export called after Select(): the thread's own error
        // state tells whether it failed.
        private static T Checked<T>(T result, string function)
        {
            if (Native.VOXA_Is_Err() != 0) throw new VoxaException(Native.VOXA_Get_LastErr(), function);
            return result;
        }

        private int Call(Func<int> f, string function)
        {
            Select();
            return Checked(f(), function);
        }

        private void Call(Action f, string function)
        {
            Select();
            f();
            Checked(0, function);
        }

        /// <summary>Runs calls of the generated declarations (Voxa.Interop.Native)
        /// on this board: board.Invoke(() => Native.VOXA_Set_BusySize(50)). A
        /// failure of the last export called throws VoxaException (each guarded
        /// export clears the error flag first).</summary>
        public T Invoke<T>(Func<T> calls)
        {
            ArgumentNullException.ThrowIfNull(calls);
            lock (_lock)
            {
                Select();
                return Checked(calls(), "Invoke");
            }
        }

        /// <summary>Commands inside go to the board at once, ahead of the queue,
        /// and no other thread's command groups on this board fall between them.</summary>
        public void Immediate(Action commands)
        {
            lock (_lock)
            {
                Call(Native.VOXA_Enter_ImCmd, "VOXA_Enter_ImCmd");
                try { commands(); }
                finally { Call(Native.VOXA_Leave_ImCmd, "VOXA_Leave_ImCmd"); }
            }
        }

        // A command, tagged with cmdId when one is given (the board's command
        // ID is restored afterwards).
        private void Command(Func<int> command, string function, int? cmdId)
        {
            lock (_lock)
            {
                if (cmdId is not int id)
                {
                    Call(command, function);
                    return;
                }
                CheckCmdId(id);
                int previous = Call(Native.VOXA_Get_CmdID, "VOXA_Get_CmdID");
                Call(() => Native.VOXA_Set_CmdID(id), "VOXA_Set_CmdID");
                try { Call(command, function); }
                finally { Call(() => Native.VOXA_Set_CmdID(previous), "VOXA_Set_CmdID"); }
            }
        }

        // Every command that moves an axis is refused, and nothing is sent,
        // while the board reports an emergency stop or an alarm, as voxactl
        // and the panel refuse it.
        private void Motion(Func<int> command, string function, int? cmdId)
        {
            lock (_lock)
            {
                if (IsAlarm)
                {
                    bool estop = IsEStop;
                    int code = AlarmCode;
                    throw new MotionRefusedException(function, estop ? StopReason.EStop : StopReason.Alarm, code);
                }
                Command(command, function, cmdId);
            }
        }

        private static void CheckCmdId(int id)
        {
            if (id < 0 || id > 0xFF) throw Argument($"command ID {id} is not 0..255");
        }

        private static int AxisMask(int axis)
        {
            if (axis < 0 || axis > 7) throw Argument($"axis {axis} is not 0..7");
            return 1 << axis;
        }

        private static VoxaException Argument(string detail) => new(Native.VOXA_ERR_ARGUMENT, detail: detail);

        private static (int mask, int[] values) Targets(IEnumerable<KeyValuePair<int, int>> targets)
        {
            ArgumentNullException.ThrowIfNull(targets);
            var values = new int[8];
            int mask = 0;
            foreach (var (axis, value) in targets)
            {
                mask |= AxisMask(axis);
                values[axis] = value;
            }
            return (mask, values);
        }

        private static KeyValuePair<int, int>[] Pairs((int Axis, int Value)[] targets) =>
            Array.ConvertAll(targets, t => new KeyValuePair<int, int>(t.Axis, t.Value));

        private string Text(Func<byte[], int> fill)
        {
            var buf = new byte[512];
            fill(buf);
            int n = Array.IndexOf(buf, (byte)0);
            return Encoding.UTF8.GetString(buf, 0, n < 0 ? buf.Length : n);
        }

        // ------------------------------------------------------------ link, status

        /// <summary>True when the board answers its keep-alives.</summary>
        public bool IsLink => Call(Native.VOXA_Is_Link, "VOXA_Is_Link") != 0;

        /// <summary>The engine version text, e.g. "V02.07 Normal Engine K7R2".</summary>
        public string EngineVersion
        {
            get
            {
                Select();
                return Text(b => { Native.VOXA_Get_EngineVer(b, b.Length); return 0; });
            }
        }

        public bool IsAlarm => Call(Native.VOXA_Is_Alarm, "VOXA_Is_Alarm") != 0;
        public bool IsEStop => Call(Native.VOXA_Is_EStop, "VOXA_Is_EStop") != 0;
        /// <summary>The board's alarm code as last reported; 0: none.</summary>
        public int AlarmCode => Call(Native.VOXA_Get_Alarm, "VOXA_Get_Alarm") & 0xFFFF;
        public bool IsAxisAlarm(int axis) => Call(() => Native.VOXA_Is_AlarmAxis(AxisMask(axis)), "VOXA_Is_AlarmAxis") != 0;

        /// <summary>The axis's position, pulses, as the board last reported it.</summary>
        public int CurPos(int axis) => Call(() => Native.VOXA_Get_CurPos(AxisMask(axis)), "VOXA_Get_CurPos");
        public void SetCurPos(int axis, int position) =>
            Call(() => Native.VOXA_Set_CurPos(AxisMask(axis), position), "VOXA_Set_CurPos");
        /// <summary>The axis's encoder position as the board last reported it.</summary>
        public int EncPos(int axis) => Call(() => Native.VOXA_Get_EncPos(AxisMask(axis)), "VOXA_Get_EncPos");

        /// <summary>Start and drive velocity (pulses/s), acceleration and
        /// deceleration ((pulses/s)/ms), each 0..65535: board-wide, or of one
        /// axis. Values left null are left as they are.</summary>
        public void SetVelocity(int? start = null, int? drive = null, int? acc = null, int? dec = null, int? axis = null)
        {
            int mask = axis is int a ? AxisMask(a) : 0;
            foreach (var v in new[] { start, drive, acc, dec })
                if (v is int x && (x < 0 || x > 0xFFFF)) throw Argument($"velocity value {x} is not 0..65535");
            lock (_lock)
            {
                if (start is int s) Call(() => axis is null ? Native.VOXA_Set_StartVel(s) : Native.VOXA_Set_StartVelAxis(mask, s), "VOXA_Set_StartVel");
                if (drive is int d) Call(() => axis is null ? Native.VOXA_Set_DriveVel(d) : Native.VOXA_Set_DriveVelAxis(mask, d), "VOXA_Set_DriveVel");
                if (acc is int ac) Call(() => axis is null ? Native.VOXA_Set_Acc(ac) : Native.VOXA_Set_AccAxis(mask, ac), "VOXA_Set_Acc");
                if (dec is int de) Call(() => axis is null ? Native.VOXA_Set_Dec(de) : Native.VOXA_Set_DecAxis(mask, de), "VOXA_Set_Dec");
            }
        }

        // ------------------------------------------------------------ execution

        /// <summary>Stops everything: decelerating, or at once. The stop goes to
        /// the board at once, ahead of the host's queue, also while another
        /// thread waits on the board.</summary>
        public void Stop(bool immediate = false) =>
            Immediate(() => Call(immediate ? Native.VOXA_ImStop : Native.VOXA_DecStop, immediate ? "VOXA_ImStop" : "VOXA_DecStop"));

        /// <summary>Resets the board; the host's queue and the board's are cleared
        /// first, so nothing queued before runs afterwards. Completion reports
        /// stay on.</summary>
        public void Reset() => Immediate(() =>
        {
            Call(Native.VOXA_Reset, "VOXA_Reset");
            // The reset may have thrown away a queued switch of the reports.
            if (Call(Native.VOXA_Is_CompleteStatePacket, "VOXA_Is_CompleteStatePacket") != 0)
                Call(() => Native.VOXA_Enable_CompleteStatePacket(1), "VOXA_Enable_CompleteStatePacket");
        });
        /// <summary>Emergency stop: every axis stops at once, ahead of the host's
        /// queue; the board then reports an emergency stop and motion is refused
        /// until Reset().</summary>
        public void EStop() => Immediate(() => Call(() => Native.VOXA_EStop(1), "VOXA_EStop"));
        public void AlarmReset() => Call(Native.VOXA_AlarmReset, "VOXA_AlarmReset");

        /// <summary>The command ID following commands carry (0xFE: none).</summary>
        public int CmdId
        {
            get => Call(Native.VOXA_Get_CmdID, "VOXA_Get_CmdID");
            set { CheckCmdId(value); Call(() => Native.VOXA_Set_CmdID(value), "VOXA_Set_CmdID"); }
        }

        // ------------------------------------------------------------ motion

        /// <summary>Linear interpolation to absolute positions.</summary>
        public void Line(IEnumerable<KeyValuePair<int, int>> targets, int? cmdId = null)
        {
            var (mask, values) = Targets(targets);
            Motion(() => Native.VOXA_Line(mask, values), "VOXA_Line", cmdId);
        }

        /// <summary>board.Line(1, (0, 1000), (1, 2000)): to (1000, 2000) on axes 0 and 1, command ID 1.</summary>
        public void Line(int? cmdId, params (int Axis, int Position)[] targets) => Line(Pairs(targets), cmdId);

        /// <summary>Each axis moves on its own to an absolute position.</summary>
        public void CMove(IEnumerable<KeyValuePair<int, int>> targets, int? cmdId = null)
        {
            var (mask, values) = Targets(targets);
            Motion(() => Native.VOXA_CMove(mask, values), "VOXA_CMove", cmdId);
        }

        /// <summary>Each axis moves on its own by a relative distance.</summary>
        public void IMove(IEnumerable<KeyValuePair<int, int>> offsets, int? cmdId = null)
        {
            var (mask, values) = Targets(offsets);
            Motion(() => Native.VOXA_IMove(mask, values), "VOXA_IMove", cmdId);
        }

        /// <summary>Home return of an axis; its position becomes value at home.</summary>
        public void Home(int axis, int value = 0, int? cmdId = null) =>
            Motion(() => Native.VOXA_Home(AxisMask(axis), value), "VOXA_Home", cmdId);

        // ------------------------------------------------------------ waits

        /// <summary>Asks the board for registers (bit r: register r) and waits until
        /// it has answered each: true then, false at the timeout (default 0.5 s).</summary>
        public bool Refresh(uint registers = RefreshStatus, TimeSpan? timeout = null)
        {
            int ms = Milliseconds(timeout ?? TimeSpan.FromMilliseconds(500));
            return Call(() => Native.VOXA_Refresh(registers, ms), "VOXA_Refresh") != 0;
        }

        /// <summary>Waits until the board reports command cmdId complete (AnyId:
        /// any command) or the timeout passes (null: no limit); then, unless
        /// refresh is false, refreshes the status registers. The result tells a
        /// command that arrived from one that was stopped (by the host, a limit,
        /// an alarm or the emergency stop) and from a timeout.</summary>
        public WaitResult WaitMotion(int cmdId, TimeSpan? timeout = null, bool refresh = true) =>
            WaitCore(cmdId, timeout, refresh, CancellationToken.None);

        /// <summary>WaitMotion on a thread of its own; cancelling the token ends
        /// the wait (the task is then cancelled; the command goes on).</summary>
        public Task<WaitResult> WaitMotionAsync(int cmdId, TimeSpan? timeout = null, bool refresh = true,
                                                CancellationToken cancellationToken = default)
        {
            CheckCmdId(cmdId);
            return Task.Factory.StartNew(() => WaitCore(cmdId, timeout, refresh, cancellationToken), cancellationToken,
                                         TaskCreationOptions.LongRunning, TaskScheduler.Default);
        }

        private static int Milliseconds(TimeSpan t) => (int)Math.Clamp(t.TotalMilliseconds, 0, int.MaxValue);

        private WaitResult WaitCore(int cmdId, TimeSpan? timeout, bool refresh, CancellationToken ct)
        {
            CheckCmdId(cmdId);
            var clock = Stopwatch.StartNew();
            bool specific = cmdId != AnyId && cmdId != NoId;  // nothing reports NoId
            // A report for any ID that lands between two slices is not kept for
            // the next one: the report count tells of it. For one ID the
            // library's own record of its completion does.
            uint count = (uint)Call(() => (int)Native.VOXA_Get_CompleteStatePacketCount(), "VOXA_Get_CompleteStatePacketCount");
            int before = specific ? CompleteReason(cmdId) : Native.VOXA_COMPLETE_NONE;
            int how = Native.VOXA_COMPLETE_NONE;
            while (true)
            {
                ct.ThrowIfCancellationRequested();
                int ms = WaitSliceMs;
                if (timeout is TimeSpan t) ms = Math.Min(ms, Milliseconds(t - clock.Elapsed));
                if (Call(() => Native.VOXA_WaitMotion(cmdId, (uint)ms), "VOXA_WaitMotion") != 0)
                {
                    how = Call(Native.VOXA_Get_WaitReason, "VOXA_Get_WaitReason");
                    if (how <= Native.VOXA_COMPLETE_NONE) how = Native.VOXA_COMPLETE_ENDED;
                    break;
                }
                if (specific)
                {
                    if (before == Native.VOXA_COMPLETE_NONE)
                    {
                        how = CompleteReason(cmdId);
                        // A report that came as the slice ended: taken, as a wait takes it.
                        if (how != Native.VOXA_COMPLETE_NONE) Call(() => Native.VOXA_WaitMotion(cmdId, 0), "VOXA_WaitMotion");
                    }
                }
                else if (cmdId == AnyId && (uint)Call(() => (int)Native.VOXA_Get_CompleteStatePacketCount(), "VOXA_Get_CompleteStatePacketCount") != count)
                {
                    how = Native.VOXA_COMPLETE_ENDED;
                }
                if (how != Native.VOXA_COMPLETE_NONE || (timeout is TimeSpan limit && clock.Elapsed >= limit)) break;
            }
            bool fresh = refresh && Refresh();
            return Result(cmdId, how != Native.VOXA_COMPLETE_NONE, fresh, how == Native.VOXA_COMPLETE_HOST_STOP);
        }

        private int CompleteReason(int cmdId) =>
            Math.Max(Native.VOXA_COMPLETE_NONE, Call(() => Native.VOXA_Get_CompleteReason(cmdId), "VOXA_Get_CompleteReason"));

        private WaitResult Result(int cmdId, bool done, bool fresh, bool hostStop)
        {
            var limitAxes = new List<int>();
            for (int a = 0; a < 8; a++)
                if (IsAxisAlarm(a)) limitAxes.Add(a);
            bool estop = IsEStop, alarm = IsAlarm;
            int code = AlarmCode;
            StopReason reason = estop ? StopReason.EStop
                : limitAxes.Count > 0 ? StopReason.Limit
                : alarm || code != 0 ? StopReason.Alarm
                : hostStop ? StopReason.HostStop
                : StopReason.None;
            WaitStatus status = !done ? WaitStatus.Timeout : reason != StopReason.None ? WaitStatus.Stopped : WaitStatus.Complete;
            return new WaitResult(cmdId, status, reason, code, limitAxes, fresh);
        }

        // ------------------------------------------------------------ events

        // Guards the handler lists; the handlers are read without it.
        private readonly object _events = new();
        private EventHandler<StateEventArgs>? _state;
        private EventHandler<LinkEventArgs>? _link;
        private EventHandler<CompletionEventArgs>? _completed;

        /// <summary>After each state packet or read reply of this board has been
        /// applied to the register image. Raised on the library's dispatch thread.</summary>
        public event EventHandler<StateEventArgs>? StateChanged
        {
            add { Callbacks.NeedState(); lock (_events) _state += value; }
            remove { lock (_events) _state -= value; }
        }

        /// <summary>A change of this board's link. Raised on the library's dispatch thread.</summary>
        public event EventHandler<LinkEventArgs>? LinkChanged
        {
            add { Callbacks.NeedLink(); lock (_events) _link += value; }
            remove { lock (_events) _link -= value; }
        }

        /// <summary>Each completion the board reports, with its command ID. Raised
        /// on the library's dispatch thread.</summary>
        public event EventHandler<CompletionEventArgs>? CommandCompleted
        {
            add
            {
                lock (_lock)
                {
                    if (!_completionsRegistered)
                    {
                        Callbacks.NeedMessages();
                        Call(() => Native.VOXA_Register_Complete_Message(_window, CompleteMessage), "VOXA_Register_Complete_Message");
                        _completionsRegistered = true;
                    }
                    lock (_events) _completed += value;
                }
            }
            remove { lock (_events) _completed -= value; }
        }

        internal void RaiseState(uint registers, ulong timeUs) => _state?.Invoke(this, new StateEventArgs(registers, timeUs));

        internal void RaiseLink(int state, int reason, int osError) =>
            _link?.Invoke(this, new LinkEventArgs((LinkState)state, (LinkReason)reason, osError));

        internal void RaiseMessage(IntPtr window, uint message, long lparam)
        {
            if (window == _window && message == CompleteMessage)
                _completed?.Invoke(this, new CompletionEventArgs((int)(lparam & 0xFF), lparam));
        }
    }
}
