// voxactl's commands: one table of {name, usage, help, run}, from which the
// help is printed and the command line is dispatched, and what the command
// files share (argument parsing, the calls' checks, the state words).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "session.h"

namespace voxactl {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// How long a command waits for the board to answer before it gives up.
constexpr Ms kAnswerTimeout{2000};

// ---------------------------------------------------------------- the table

class Args;

// A command line checked before the board is opened: a usage error's exit
// code, or what to do once it is open.
struct Command {
  int rc = kExitOk;
  std::function<int(Session&)> run;
};

inline Command Bad(int rc) { return Command{rc, nullptr}; }
inline Command Do(std::function<int(Session&)> run) { return Command{kExitOk, std::move(run)}; }

// One command. Exactly one of the three ways to run it is set.
struct CommandSpec {
  const char* name;
  const char* usage;  // the command's synopsis, from its name on
  const char* help;   // what `voxactl COMMAND --help` prints
  // Checks the arguments; the board is opened only for a command to run.
  Command (*parse)(Args& args) = nullptr;
  // Runs without a board (the board options are not asked for).
  int (*offline)(const std::vector<std::string>& args) = nullptr;
  // Takes the whole command line itself.
  int (*whole)(int argc, char** argv) = nullptr;
  // The frames both ways are kept from the open on (Session::StartCapture).
  bool captures = false;
};

// The commands of each group, in the order the help lists them.
std::span<const CommandSpec> StatusCommands();    // commands_status.cpp
std::span<const CommandSpec> MotionCommands();    // commands_motion.cpp
std::span<const CommandSpec> RegisterCommands();  // commands_registers.cpp
std::span<const CommandSpec> ConfigCommands();    // commands_config.cpp
std::span<const CommandSpec> TraceCommands();     // commands_trace.cpp
std::span<const CommandSpec> RecordCommands();    // commands_record.cpp (panel, record, plot)

// Every command, in the order of the help.
const std::vector<CommandSpec>& Commands();
const CommandSpec* FindCommand(std::string_view name);

// Prints the usage error (with the command's usage when one is named) and
// returns kExitUsage.
int UsageError(const std::string& what, const char* command = nullptr);

// ---------------------------------------------------------------- parsing

// A decimal or 0x-hex integer with an optional sign, the whole text.
std::optional<int64_t> ParseInt(std::string_view s);
std::optional<int32_t> ParseInt32(std::string_view s);
// A register by number (0..31) or by name, any case.
std::optional<int> ParseRegister(std::string_view s);
// A finite decimal number, the whole text.
bool ParseNumber(const std::string& s, double& v);
// The items of a list ("0,1"), an empty one after a trailing separator.
std::vector<std::string> SplitText(const std::string& s, char sep);
// --name VALUE or --name=VALUE, taken out of args; `error` says so when the
// value is missing.
std::optional<std::string> TakeOption(std::vector<std::string>& args, const std::string& name, std::string& error);

// The arguments of one command: flags, options with a value, positionals.
class Args {
 public:
  Args(const char* command, std::vector<std::string> args) : command_(command), args_(std::move(args)) {}

  const char* command() const { return command_; }
  bool Flag(const char* name);
  // --name VALUE or --name=VALUE; error_ is set on a bad value.
  std::optional<int64_t> Number(const char* name, int64_t lo, int64_t hi);
  // The positionals left; an unknown option is an error.
  bool Positionals(size_t min, size_t max);
  const std::vector<std::string>& rest() const { return args_; }
  int Error() const { return UsageError(error_, command_); }

 private:
  const char* command_;
  std::vector<std::string> args_;
  std::string error_;
};

// ---------------------------------------------------------------- calls

// Checks the error flag of the call just made; prints the failure.
bool Ok(const char* function);

// Commands inside go to the board at once, not through the host's queue:
// nothing is left behind in it when voxactl closes the board.
class Immediate {
 public:
  Immediate();
  ~Immediate();
  Immediate(const Immediate&) = delete;
  Immediate& operator=(const Immediate&) = delete;
};

// Asks the board for the registers and waits for its answers, at most
// timeout_ms; Ctrl-C ends the wait by closing the board. False when the
// board did not answer in time or Ctrl-C came.
bool Refresh(Session& s, uint32_t regs, int64_t timeout_ms);

// The board's status, asked for anew: 0 when the board answered, else the
// exit code, with `consequence` told on standard error.
int BoardAnswers(Session& s, const char* consequence);

// Empties the host's and the board's queues, then stops the axes,
// decelerating: nothing queued starts after the stop.
void StopAndClear();

// ---------------------------------------------------------------- state

// The execution state in two words: whether the board lets commands run,
// and what it does.
struct StateWords {
  const char* enable;
  const char* activity;
};
StateWords State();
std::string StateText(const StateWords& w);  // "enabled, at rest"
// The state, and the board's and the host's queues.
std::string ExecutionText();
// "none", or the alarm with its code, whether it is an emergency stop, and
// the axes that report one.
std::string AlarmText();
// The board's execution state and alarm, two lines.
std::string StateLines();

// ---------------------------------------------------------------- JSON

std::string JsonString(const std::string& text);
inline const char* JsonBool(int v) { return v ? "true" : "false"; }

}  // namespace voxactl
