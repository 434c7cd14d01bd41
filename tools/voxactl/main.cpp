// voxactl: a board from the command line, through the public C API.
//
//   voxactl --tcp 192.168.0.50 status
//   voxactl --serial /dev/ttyUSB0 --baud 115200 line 0=1000 1=2000
//
// Exit codes: 0 done, 1 a call or the board failed (the error code's
// meaning goes to standard error), 2 bad usage (found before anything is
// opened), 130 interrupted.
//
// The commands are the table of commands.h; this file parses the board
// options and dispatches through the table.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "session.h"
#include "voxa/voxa.h"

namespace voxactl {
namespace {

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: voxactl [--tcp ADDR[:PORT] | --serial DEV [--baud N]] COMMAND [ARGS]\n"
               "       voxactl --help | --version\n"
               "\n"
               "  --tcp ADDR[:PORT]  a board over TCP (IPv4 address or host name, port 1000 by\n"
               "                     default)\n"
               "  --serial DEV       a board on a serial line: a device path, or port number n\n"
               "                     for /dev/ttyS<n-1> (COMn on Windows)\n"
               "  --baud N           the serial line's baud rate (default 115200)\n"
               "\n"
               "Without --tcp and --serial the board is VOXA_ADDRESS's: tcp:ADDR[:PORT] or\n"
               "serial:DEV[@BAUD], e.g. VOXA_ADDRESS=tcp:myboard.local or serial:/dev/ttyUSB0.\n"
               "\n"
               "commands:\n");
  for (const CommandSpec& c : Commands()) std::fprintf(out, "  %s\n", c.usage);
#ifdef VOXACTL_NO_PANEL
  std::fprintf(out, "\nThe panel (voxactl panel) is Linux-only: this build has none.\n");
#endif
  std::fprintf(out, "\n'voxactl COMMAND --help' tells more about a command.\n");
}

int Run(int argc, char** argv) {
  std::string tcp, serial;
  int baud = 115200;
  bool help = false;
  const CommandSpec* command = nullptr;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> std::optional<std::string> {
      if (a == name) {
        if (i + 1 < argc) return std::string(argv[++i]);
        return std::nullopt;
      }
      return a.substr(std::strlen(name) + 1);
    };
    if (a == "--tcp" || a.rfind("--tcp=", 0) == 0) {
      auto v = value("--tcp");
      if (!v) return UsageError("--tcp needs ADDR[:PORT]");
      tcp = *v;
    } else if (a == "--serial" || a.rfind("--serial=", 0) == 0) {
      auto v = value("--serial");
      if (!v) return UsageError("--serial needs a device");
      serial = *v;
    } else if (a == "--baud" || a.rfind("--baud=", 0) == 0) {
      auto v = value("--baud");
      auto n = v ? ParseInt32(*v) : std::nullopt;
      if (!n || *n <= 0) return UsageError("--baud needs a positive number");
      baud = *n;
    } else if (a == "-h" || a == "--help") {
      help = true;
    } else if (a == "--version" && !command) {
      char library[64] = "";
      VOXA_Get_DllVer(library, static_cast<int>(sizeof library));
      std::printf("voxactl %s (libvoxa %s)\n", VOXA_TOOLS_VERSION, library);
      return kExitOk;
    } else if (!command) {
      command = FindCommand(a);
      if (!command) return UsageError("unknown command '" + a + "'");
      // A command that takes the whole command line parses it itself.
      if (command->whole) return command->whole(argc, argv);
    } else {
      rest.push_back(a);
    }
  }
  if (help) {
    if (command)
      std::printf("usage: voxactl %s%s\n\n%s\n", command->offline ? "" : "[--tcp ADDR[:PORT] | --serial DEV [--baud N]] ",
                  command->usage, command->help);
    else
      PrintUsage(stdout);
    return kExitOk;
  }
  if (!command) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  if (command->offline) return command->offline(rest);
  if (!tcp.empty() && !serial.empty()) return UsageError("give one of --tcp ADDR[:PORT] and --serial DEV");
  if (tcp.empty() && serial.empty()) {
    std::string error;
    if (!AddressFromEnvironment(tcp, serial, baud, error))
      return UsageError(error.empty() ? "give one of --tcp ADDR[:PORT] and --serial DEV, or set VOXA_ADDRESS" : error);
  }
  TcpAddress address;
  std::string error;
  if (!tcp.empty() && !ParseTcpAddress(tcp, address, error)) return UsageError(error);

  Args args(command->name, std::move(rest));
  const Command c = command->parse(args);
  if (!c.run) return c.rc;

  Session session;
  SignalWatch signals(session);
  if (command->captures) session.StartCapture(false);
  if (!(tcp.empty() ? session.OpenSerial(serial, baud) : session.OpenTcp(address))) return kExitFailed;
  // The open returns before the link is up; what is sent before the first
  // heartbeat may be lost. A board that never answers is each command's to
  // report.
  session.WaitHeartbeat(Ms(1000));
  const int rc = c.run(session);
  std::fflush(stdout);
  session.Close();
  return rc;
}

}  // namespace
}  // namespace voxactl

int main(int argc, char** argv) { return voxactl::Run(argc, argv); }
