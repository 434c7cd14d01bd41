using System;
using System.Text;
using Voxa.Interop;

namespace Voxa
{
    /// <summary>A call the library refused or that failed: the library's
    /// error code (VOXA_Get_LastErr) and its meaning (VOXA_Get_ErrText).</summary>
    public class VoxaException : Exception
    {
        public const int ErrBoardId = Native.VOXA_ERR_BOARD_ID;
        public const int ErrSoftQueue = Native.VOXA_ERR_SOFT_QUEUE;
        public const int ErrNoSlot = Native.VOXA_ERR_NO_SLOT;
        public const int ErrNotOpen = Native.VOXA_ERR_NOT_OPEN;
        public const int ErrOpen = Native.VOXA_ERR_OPEN;
        public const int ErrConfigSave = Native.VOXA_ERR_CONFIG_SAVE;
        public const int ErrConfigLoad = Native.VOXA_ERR_CONFIG_LOAD;
        public const int ErrArgument = Native.VOXA_ERR_ARGUMENT;

        /// <summary>The library's error code, e.g. -50.</summary>
        public int Code { get; }
        /// <summary>The library's text for the code.</summary>
        public string Meaning { get; }
        /// <summary>The export that failed, when known.</summary>
        public string? Function { get; }
        /// <summary>What the binding adds, when anything.</summary>
        public string? Detail { get; }

        public VoxaException(int code, string? function = null, string? detail = null)
            : this(code, Library.ErrorText(code), function, detail) { }

        protected VoxaException(int code, string meaning, string? function, string? detail)
            : base(Text(code, meaning, function, detail))
        {
            Code = code;
            Meaning = meaning;
            Function = function;
            Detail = detail;
        }

        private static string Text(int code, string meaning, string? function, string? detail)
        {
            var s = new StringBuilder();
            if (function != null) s.Append(function).Append(": ");
            s.Append("error ").Append(code).Append(": ").Append(meaning);
            if (!string.IsNullOrEmpty(detail)) s.Append(" (").Append(detail).Append(')');
            return s.ToString();
        }
    }

    /// <summary>A command that would move an axis, refused before anything was
    /// sent because the board reports an emergency stop or an alarm (Code 0: the
    /// library was not called). Reset() clears the state.</summary>
    public sealed class MotionRefusedException : VoxaException
    {
        /// <summary>EStop or Alarm.</summary>
        public StopReason Reason { get; }
        /// <summary>The board's alarm code.</summary>
        public int AlarmCode { get; }

        public MotionRefusedException(string function, StopReason reason, int alarmCode)
            : base(0, "motion refused", function,
                   (reason == StopReason.EStop ? "the board reports an emergency stop"
                                               : $"the board reports an alarm (code 0x{alarmCode:X4})") +
                   "; nothing was sent, Reset() clears it")
        {
            Reason = reason;
            AlarmCode = alarmCode;
        }
    }

    /// <summary>Why an open failed (VOXA_Get_OpenError).</summary>
    public enum OpenFailure
    {
        None = Native.VOXA_OPEN_NONE,
        /// <summary>The system refused: connection refused, no such device, ...</summary>
        System = Native.VOXA_OPEN_SYSTEM,
        /// <summary>The board did not answer within the connect time.</summary>
        NoAnswer = Native.VOXA_OPEN_NO_ANSWER,
        /// <summary>The board serves another host and turned this one away.</summary>
        Held = Native.VOXA_OPEN_HELD,
        /// <summary>The host name does not resolve (found before the library was called).</summary>
        Address = -1,
    }

    /// <summary>A link that could not be opened (-30): the library's sentence
    /// naming the link and why, and the system's error number.</summary>
    public sealed class VoxaOpenException : VoxaException
    {
        public OpenFailure Reason { get; }
        public int OsError { get; }
        /// <summary>"the board at 127.0.0.1:1000 is held by another host".</summary>
        public string Sentence { get; }

        internal VoxaOpenException(string function, OpenFailure reason, int osError, string sentence)
            : base(Native.VOXA_ERR_OPEN, function, sentence)
        {
            Reason = reason;
            OsError = osError;
            Sentence = sentence;
        }

        internal static VoxaOpenException FromLibrary(string function)
        {
            var os = new int[1];
            var text = new byte[512];
            int reason = Native.VOXA_Get_OpenError(os, text, text.Length);
            int n = Array.IndexOf(text, (byte)0);
            string sentence = Encoding.UTF8.GetString(text, 0, n < 0 ? text.Length : n);
            return new VoxaOpenException(function, (OpenFailure)reason, os[0], sentence);
        }
    }
}
