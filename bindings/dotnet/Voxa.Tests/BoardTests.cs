using System;
using System.Collections.Generic;
using System.Net;
using System.Net.Sockets;
using System.Threading;
using System.Threading.Tasks;
using Voxa.Interop;
using Xunit;

namespace Voxa.Tests
{
    public sealed class BoardTests : IDisposable
    {
        private static readonly TimeSpan Long = TimeSpan.FromSeconds(10);
        private readonly SimBoard _sim = new();
        private readonly Board _board;

        public BoardTests() => _board = _sim.Open();

        public void Dispose()
        {
            _board.Dispose();
            _sim.Dispose();
        }

        [Fact]
        public void ALineArrivesAtItsTarget()
        {
            _board.Line(1, (0, 1000), (1, -2000));
            var r = _board.WaitMotion(1, Long);
            Assert.True(r.Completed, r.ToString());
            Assert.Equal(StopReason.None, r.Reason);
            Assert.True(r.Fresh);
            Assert.Equal(1000, _board.CurPos(0));
            Assert.Equal(-2000, _board.CurPos(1));
            Assert.Equal(1000, _sim.Position(0));
        }

        [Fact]
        public void AStopIsReportedAsStoppedNotArrived()
        {
            _board.SetVelocity(drive: 1000);
            _board.SetVelocity(drive: 1000, axis: 0);
            _board.Line(new Dictionary<int, int> { [0] = 1_000_000 }, cmdId: 2);
            Assert.True(_board.WaitMotion(2, TimeSpan.FromMilliseconds(200), refresh: false).TimedOut);
            _board.Stop();
            var r = _board.WaitMotion(2, Long);
            Assert.Equal(WaitStatus.Stopped, r.Status);
            Assert.Equal(StopReason.HostStop, r.Reason);
            Assert.InRange(_board.CurPos(0), 0, 999_999);
        }

        [Fact]
        public void AStopGoesOutAtOnceAheadOfQueuedMotion()
        {
            _sim.HoldQueue();
            for (int i = 0; i < 3; i++) _board.IMove(new Dictionary<int, int> { [0] = 100 });
            long from = _sim.FrameCount;
            _board.Stop();
            long stop = _sim.WaitFrame(0x51, from);
            Assert.True(stop >= 0, "the stop reached the board");
            Assert.Equal(0xD1, _sim.FrameOpcode(stop));  // immediate
        }

        [Fact]
        public void NoMotionUnderAnEmergencyStopUntilReset()
        {
            _board.EStop();
            // The board reports the emergency stop within a tick or two.
            for (int i = 0; i < 50 && !_board.IsEStop; i++) _board.Refresh();
            Assert.True(_board.IsEStop);
            var e = Assert.Throws<MotionRefusedException>(() => _board.Line(3, (0, 500)));
            Assert.Equal(StopReason.EStop, e.Reason);
            Assert.Contains("emergency stop", e.Message);
            Assert.Throws<MotionRefusedException>(() => _board.Home(1));
            _board.Reset();
            _board.AlarmReset();
            Assert.True(_board.Refresh());
            _board.CMove(new Dictionary<int, int> { [1] = 300 }, cmdId: 4);
            var r = _board.WaitMotion(4, Long);
            Assert.True(r.Completed, r.ToString());
            Assert.Equal(0, _sim.Position(0));
            Assert.Equal(300, _sim.Position(1));
        }

        [Fact]
        public void FailuresCarryTheCodeAndTheLibrarysText()
        {
            var e = Assert.Throws<VoxaException>(() => _board.Invoke(() => Native.VOXA_Set_PulseMode(1, 7)));
            Assert.Equal(VoxaException.ErrArgument, e.Code);
            Assert.Equal(Library.ErrorText(-50), e.Meaning);
            Assert.NotEqual("unknown error code", e.Meaning);
            Assert.Throws<VoxaException>(() => _board.CurPos(8));
            Assert.Throws<VoxaException>(() => _board.SetVelocity(drive: -5));

            var listener = new TcpListener(IPAddress.Loopback, 0);
            listener.Start();
            int port = ((IPEndPoint)listener.LocalEndpoint).Port;
            listener.Stop();
            var open = Assert.Throws<VoxaOpenException>(() => Board.Tcp("127.0.0.1", port));
            Assert.Equal(VoxaException.ErrOpen, open.Code);
            Assert.Equal(OpenFailure.System, open.Reason);
            Assert.NotEqual(0, open.OsError);
            Assert.Contains($"127.0.0.1:{port}", open.Sentence);
            Assert.Equal(OpenFailure.Address, Assert.Throws<VoxaOpenException>(() => Board.Tcp("300.1.1.1")).Reason);

            _board.Dispose();
            Assert.Equal(VoxaException.ErrNotOpen, Assert.Throws<VoxaException>(() => _board.CurPos(0)).Code);
        }

        [Fact]
        public async Task EventsReachTheBoardTheyConcern()
        {
            var completed = new TaskCompletionSource<int>(TaskCreationOptions.RunContinuationsAsynchronously);
            var state = new TaskCompletionSource<uint>(TaskCreationOptions.RunContinuationsAsynchronously);
            _board.CommandCompleted += (s, e) => { if (s == _board) completed.TrySetResult(e.CmdId); };
            _board.StateChanged += (s, e) => state.TrySetResult(e.Registers);
            _board.Line(7, (2, 500));
            Assert.Equal(7, await completed.Task.WaitAsync(Long));
            Assert.True(_board.Refresh());
            await state.Task.WaitAsync(Long);
        }

        [Fact]
        public async Task WaitsAreAwaitableAndCancellable()
        {
            _board.Line(4, (0, 300));
            var r = await _board.WaitMotionAsync(4, Long);
            Assert.True(r.Completed, r.ToString());

            _sim.HoldQueue();
            _board.Line(5, (0, 600));
            using var cancel = new CancellationTokenSource(TimeSpan.FromMilliseconds(150));
            var wait = _board.WaitMotionAsync(5, cancellationToken: cancel.Token);
            await Assert.ThrowsAnyAsync<OperationCanceledException>(() => wait);
            _sim.HoldQueue(false);
            Assert.True((await _board.WaitMotionAsync(5, Long)).Completed);
        }
    }
}
