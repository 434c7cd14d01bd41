using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.IO.Compression;
using System.Linq;
using Xunit;

namespace Voxa.Tests
{
    public class PackageTests
    {
        // The program a user writes: an event handler that gets a call, a line
        // to a position, and an end without closing the board.
        private const string Program = """
            using System;
            using System.Threading;
            using Voxa;

            using var sim = new SimBoard();
            var board = sim.Open();
            var completed = new ManualResetEventSlim();
            board.CommandCompleted += (s, e) => completed.Set();
            board.Line(1, (0, 1234));
            var r = board.WaitMotion(1, TimeSpan.FromSeconds(10));
            Console.WriteLine($"{r.Status} {board.CurPos(0)} {completed.Wait(5000)}");
            Console.WriteLine("done");
            """;

        [Fact]
        public void ThePackageInstallsIntoANewProjectWhoseProgramExitsAtOnce()
        {
            var paths = VoxaPaths.Get();
            string dir = Directory.CreateTempSubdirectory("voxa-package-").FullName;
            try
            {
                string feed = Path.Combine(dir, "feed"), app = Path.Combine(dir, "app");
                Dotnet(dir, "pack", Path.Combine(paths.Root, "bindings/dotnet/Voxa/Voxa.csproj"), "-c", "Release", "-o", feed,
                       "--artifacts-path", Path.Combine(dir, "artifacts"), $"-p:VoxaLibrary={paths.Library}");
                string nupkg = Directory.GetFiles(feed, "Voxa.*.nupkg").Single();
                using (var zip = ZipFile.OpenRead(nupkg))
                {
                    var names = zip.Entries.Select(e => e.FullName).ToList();
                    Assert.Contains("lib/net10.0/Voxa.dll", names);
                    Assert.Contains("runtimes/linux-x64/native/libvoxa.so", names);
                }
                string version = Path.GetFileNameWithoutExtension(nupkg).Substring("Voxa.".Length);

                Directory.CreateDirectory(app);
                File.WriteAllText(Path.Combine(app, "app.csproj"), $"""
                    <Project Sdk="Microsoft.NET.Sdk">
                      <PropertyGroup><OutputType>Exe</OutputType><TargetFramework>net10.0</TargetFramework>
                        <ImplicitUsings>disable</ImplicitUsings><Nullable>enable</Nullable></PropertyGroup>
                      <ItemGroup><PackageReference Include="Voxa" Version="{version}" /></ItemGroup>
                    </Project>
                    """);
                File.WriteAllText(Path.Combine(app, "Program.cs"), Program);
                // Only the folder the package was packed into: nothing else is needed.
                File.WriteAllText(Path.Combine(app, "nuget.config"), $"""
                    <configuration><packageSources><clear /><add key="feed" value="{feed}" /></packageSources>
                      <config><add key="globalPackagesFolder" value="{dir}/packages" /></config></configuration>
                    """);
                Dotnet(app, "build", "-o", Path.Combine(app, "out"));

                // libvoxa from the package; the simulated board from the build tree.
                var run = Start(app, "dotnet", new[] { Path.Combine(app, "out", "app.dll") },
                                ("VOXA_SIM_LIBRARY", paths.SimLibrary), ("VOXA_LIBRARY", null));
                var lines = new List<string>();
                var done = Stopwatch.StartNew();
                bool seen = false;
                string? line;
                while ((line = run.StandardOutput.ReadLine()) != null)
                {
                    lines.Add(line);
                    if (line == "done") { seen = true; done.Restart(); }
                }
                bool exited = run.WaitForExit(5000);
                if (!exited) run.Kill(true);
                Assert.True(seen, string.Join("\n", lines) + run.StandardError.ReadToEnd());
                Assert.Equal("Complete 1234 True", lines[0]);
                Assert.True(exited && done.Elapsed < TimeSpan.FromSeconds(1), $"the program took {done.Elapsed} to exit after its last line");
                Assert.Equal(0, run.ExitCode);
            }
            finally
            {
                Directory.Delete(dir, true);
            }
        }

        private static void Dotnet(string cwd, params string[] args)
        {
            var p = Start(cwd, "dotnet", args.Append("-nodeReuse:false").ToArray());
            var err = p.StandardError.ReadToEndAsync();
            string output = p.StandardOutput.ReadToEnd();
            Assert.True(p.WaitForExit(300_000), $"dotnet {args[0]} did not end");
            Assert.True(p.ExitCode == 0, $"dotnet {string.Join(' ', args)}:\n{output}\n{err.Result}");
        }

        private static Process Start(string cwd, string file, string[] args, params (string Name, string? Value)[] env)
        {
            var info = new ProcessStartInfo(file)
            {
                WorkingDirectory = cwd,
                RedirectStandardOutput = true,
                RedirectStandardError = true,
                UseShellExecute = false,
            };
            foreach (var a in args) info.ArgumentList.Add(a);
            // A build of its own, not one inside this test run's.
            foreach (var k in info.Environment.Keys.Where(k => k.StartsWith("MSBuild", StringComparison.OrdinalIgnoreCase)).ToList())
                info.Environment.Remove(k);
            info.Environment["MSBUILDDISABLENODEREUSE"] = "1";
            info.Environment["DOTNET_CLI_USE_MSBUILD_SERVER"] = "0";
            foreach (var (name, value) in env)
            {
                if (value == null) info.Environment.Remove(name);
                else info.Environment[name] = value;
            }
            return Process.Start(info)!;
        }
    }
}
