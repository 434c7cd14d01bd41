using System;
using System.Diagnostics;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using Voxa.Interop;

namespace Voxa
{
    /// <summary>What concerns the library as a whole, not one board.</summary>
    public static class Library
    {
        /// <summary>The library's version text, "VOXA-DLL-V01-R05.201".</summary>
        public static string DllVersion
        {
            get
            {
                var buf = new char[64];
                Native.VOXA_Get_wDllVer(buf, buf.Length);
                int n = Array.IndexOf(buf, '\0');
                return new string(buf, 0, n < 0 ? buf.Length : n);
            }
        }

        /// <summary>The library's short meaning of an error code; the text is
        /// the library's own (static), copied, never freed.</summary>
        public static string ErrorText(int code)
        {
            IntPtr p = Native.VOXA_Get_ErrText(code);
            return p == IntPtr.Zero ? "unknown error code" : Marshal.PtrToStringUTF8(p) ?? "unknown error code";
        }

        /// <summary>An exception thrown by an application's event handler. The
        /// library's dispatch thread cannot take it: it is handed here instead
        /// (none subscribed: it is traced).</summary>
        public static event Action<Exception>? CallbackFailed;

        internal static void ReportCallbackFailure(Exception e)
        {
            var h = CallbackFailed;
            if (h != null)
            {
                try { h(e); } catch { /* nothing else can take it */ }
            }
            else
            {
                Trace.TraceError("voxa: an event handler failed: {0}", e);
            }
        }

        // libvoxa (and the simulated board's libvoxa_sim) are found at the
        // paths in VOXA_LIBRARY and VOXA_SIM_LIBRARY when set, else where the
        // runtime looks: the application's folder, runtimes/<rid>/native of
        // the package, the system's library path.
#pragma warning disable CA2255 // the resolver must be in place before the first call, whoever makes it
        [ModuleInitializer]
        internal static void Init()
        {
            NativeLibrary.SetDllImportResolver(typeof(Library).Assembly, Resolve);
            AppDomain.CurrentDomain.ProcessExit += (_, _) => Callbacks.ProcessExit();
        }
#pragma warning restore CA2255

        private static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? path)
        {
            string? env = name switch
            {
                Native.Library => Environment.GetEnvironmentVariable("VOXA_LIBRARY"),
                SimBoard.LibraryName => Environment.GetEnvironmentVariable("VOXA_SIM_LIBRARY"),
                _ => null,
            };
            if (!string.IsNullOrEmpty(env))
                return NativeLibrary.Load(env);
            return IntPtr.Zero;
        }
    }
}
