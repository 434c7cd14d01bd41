using System;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using Voxa.Interop;
using Xunit;

namespace Voxa.Tests
{
    public class DeclarationTests
    {
        [Fact]
        public void EveryExportOfTheHeadersIsDeclaredAndFoundInTheLibrary()
        {
            var headers = Directory.GetFiles(Path.Combine(VoxaPaths.Get().Root, "include", "voxa"), "*.h");
            var text = string.Concat(headers.Select(File.ReadAllText));
            text = Regex.Replace(text, @"/\*.*?\*/", " ", RegexOptions.Singleline);
            var exported = Regex.Matches(text, @"VOXA_CALL\s+(VOXA_\w+)\s*\(").Select(m => m.Groups[1].Value).ToHashSet();
            Assert.True(exported.Count > 400, $"only {exported.Count} exports found in the headers");

            var declared = typeof(Native).GetMethods(BindingFlags.Public | BindingFlags.Static)
                .Where(m => m.GetCustomAttribute<DllImportAttribute>() != null).ToDictionary(m => m.Name);
            Assert.Empty(exported.Except(declared.Keys));
            Assert.Empty(declared.Keys.Except(exported));

            IntPtr lib = NativeLibrary.Load(Path.Combine(AppContext.BaseDirectory, "libvoxa.so"));
            var missing = declared.Keys.Where(n => !NativeLibrary.TryGetExport(lib, n, out _)).ToList();
            Assert.Empty(missing);
            // The handlers use the platform's convention, as VOXA_CALL does.
            foreach (var d in typeof(Native).Assembly.GetTypes().Where(t => t.Name.EndsWith("Handler") && t.Namespace == "Voxa.Interop"))
                Assert.Equal(CallingConvention.Winapi, d.GetCustomAttribute<UnmanagedFunctionPointerAttribute>()!.CallingConvention);
        }

        [Fact]
        public unsafe void TheTrapsAreMarshalledSafely()
        {
            // Packed: the library hands the 30 bytes to the board as they are.
            Assert.Equal(30, sizeof(VOXA_PID_SETUP));
            Assert.Equal(22, (int)Marshal.OffsetOf<VOXA_PID_SETUP>(nameof(VOXA_PID_SETUP.param32)));
            // Static text, read without being freed (a string return would abort the process).
            Assert.Equal("no error", Library.ErrorText(0));
            Assert.Equal(Library.ErrorText(-50), Library.ErrorText(-50));
            // Wide text is UTF-16.
            Assert.StartsWith("VOXA-DLL-V", Library.DllVersion);
        }
    }
}
