using System.Collections.Generic;

namespace Voxa
{
    /// <summary>How a wait for a command ended.</summary>
    public enum WaitStatus
    {
        /// <summary>The board reported the command complete and nothing stopped it.</summary>
        Complete,
        /// <summary>Reported complete, but a limit, an alarm, an emergency stop
        /// or a stop from the host ended it early: see the reason.</summary>
        Stopped,
        /// <summary>No report came within the time.</summary>
        Timeout,
    }

    /// <summary>What stopped a command early.</summary>
    public enum StopReason
    {
        None,
        /// <summary>An axis's limit alarm (see LimitAxes).</summary>
        Limit,
        /// <summary>The board's alarm (see AlarmCode).</summary>
        Alarm,
        /// <summary>The emergency stop.</summary>
        EStop,
        /// <summary>A stop, cancel, reset or queue clear from the host came before
        /// the board reported the command complete.</summary>
        HostStop,
    }

    /// <summary>The end of a WaitMotion. Reason, AlarmCode and LimitAxes are
    /// read from the status registers, refreshed from the board after the wait
    /// unless asked not to (Fresh tells whether the refresh was answered).</summary>
    public sealed record WaitResult(int CmdId, WaitStatus Status, StopReason Reason, int AlarmCode,
                                    IReadOnlyList<int> LimitAxes, bool Fresh)
    {
        /// <summary>The command ran to its end: it arrived.</summary>
        public bool Completed => Status == WaitStatus.Complete;
        public bool TimedOut => Status == WaitStatus.Timeout;

        public override string ToString() =>
            Reason == StopReason.None
                ? $"#{CmdId} {Status}"
                : $"#{CmdId} {Status} reason={Reason} alarm_code=0x{AlarmCode:X} limit_axes=[{string.Join(", ", LimitAxes)}]";
    }

    /// <summary>A change of a board's link (VOXA_LINK_...).</summary>
    public enum LinkState { Down = 0, Up = 1, Reconnecting = 2, Reconnected = 3 }

    /// <summary>Why a link changed (VOXA_LINK_REASON_...).</summary>
    public enum LinkReason { None = 0, Silence = 1, PeerClosed = 2, Error = 3, Closed = 4, Hangup = 5, Heartbeat = 6, Held = 7 }

    public sealed record LinkEventArgs(LinkState State, LinkReason Reason, int OsError);

    /// <summary>A state packet or read reply applied to the register image:
    /// bit r of Registers for register r; a monotonic time in microseconds.</summary>
    public sealed record StateEventArgs(uint Registers, ulong TimeUs);

    /// <summary>A command the board reported complete.</summary>
    public sealed record CompletionEventArgs(int CmdId, long LParam);
}
