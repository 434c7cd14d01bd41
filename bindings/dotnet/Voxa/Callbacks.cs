using System;
using System.Threading;
using Voxa.Interop;

namespace Voxa
{
    /// <summary>The library's handlers are process-wide: one registry holds the
    /// delegates handed to it, for the life of the process (the library may
    /// call them until the process ends), and routes each call to the board it
    /// concerns. Handlers run on the library's dispatch thread.</summary>
    internal static class Callbacks
    {
        private const int Boards = 8;

        // Never collected: static, and never replaced.
        private static readonly VOXA_StateHandler StateThunk = OnState;
        private static readonly VOXA_LinkHandler LinkThunk = OnLink;
        private static readonly VOXA_BoardMessageHandler MessageThunk = OnMessage;

        // The open Board of each library slot. Read by the handlers without a
        // lock; written under SetLock.
        private static readonly Board?[] ByIndex = new Board?[Boards];
        // Orders attaching, setting and clearing. Never taken by a handler: a
        // setter of the library waits for a running handler to return.
        private static readonly object SetLock = new();
        private static bool _state, _link, _message, _exiting;

        internal static void Attach(Board b)
        {
            lock (SetLock) Volatile.Write(ref ByIndex[b.Id], b);
        }

        internal static void Detach(Board b)
        {
            lock (SetLock)
            {
                if (ReferenceEquals(ByIndex[b.Id], b)) Volatile.Write(ref ByIndex[b.Id], null);
            }
        }

        internal static void NeedState()
        {
            lock (SetLock)
            {
                if (_state || _exiting) return;
                Native.VOXA_Set_StateHandler(StateThunk);
                _state = true;
            }
        }

        internal static void NeedLink()
        {
            lock (SetLock)
            {
                if (_link || _exiting) return;
                Native.VOXA_Set_LinkHandler(LinkThunk);
                _link = true;
            }
        }

        internal static void NeedMessages()
        {
            lock (SetLock)
            {
                if (_message || _exiting) return;
                Native.VOXA_Set_BoardMessageHandler(MessageThunk);
                _message = true;
            }
        }

        /// <summary>At the process's exit, while the runtime still runs: the
        /// library gets its handlers back (each setter returns once a running
        /// call has returned) and the boards still open are closed, so that
        /// nothing calls into managed code while the runtime shuts down. An
        /// application handler that does not return holds the exit up for half
        /// a second at most.</summary>
        internal static void ProcessExit()
        {
            var t = new Thread(TakeBack) { IsBackground = true, Name = "voxa-exit" };
            t.Start();
            t.Join(500);
        }

        private static void TakeBack()
        {
            Board?[] open;
            lock (SetLock)
            {
                _exiting = true;
                if (_state) Native.VOXA_Set_StateHandler(null);
                if (_link) Native.VOXA_Set_LinkHandler(null);
                if (_message) Native.VOXA_Set_BoardMessageHandler(null);
                _state = _link = _message = false;
                open = (Board?[])ByIndex.Clone();
            }
            foreach (var b in open)
            {
                try { b?.Dispose(); } catch (Exception) { /* exiting */ }
            }
        }

        private static Board? At(int index) =>
            index >= 0 && index < Boards ? Volatile.Read(ref ByIndex[index]) : null;

        private static void OnState(int board, uint registers, ulong timeUs)
        {
            try { At(board)?.RaiseState(registers, timeUs); }
            catch (Exception e) { Library.ReportCallbackFailure(e); }
        }

        private static void OnLink(int board, int state, int reason, int osError)
        {
            try { At(board)?.RaiseLink(state, reason, osError); }
            catch (Exception e) { Library.ReportCallbackFailure(e); }
        }

        private static void OnMessage(int board, IntPtr window, uint message, nuint wparam, nint lparam)
        {
            try { At(board)?.RaiseMessage(window, message, (long)lparam); }
            catch (Exception e) { Library.ReportCallbackFailure(e); }
        }
    }
}
