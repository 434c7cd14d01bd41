#include "commands.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "voxa/voxa.h"

namespace voxactl {

// ---------------------------------------------------------------- the table

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> all = [] {
    std::vector<CommandSpec> v;
    for (auto group : {StatusCommands(), MotionCommands(), RegisterCommands(), ConfigCommands(), TraceCommands(),
                       RecordCommands()})
      v.insert(v.end(), group.begin(), group.end());
    return v;
  }();
  return all;
}

const CommandSpec* FindCommand(std::string_view name) {
  for (const CommandSpec& c : Commands())
    if (name == c.name) return &c;
  return nullptr;
}

int UsageError(const std::string& what, const char* command) {
  std::fprintf(stderr, "voxactl: %s\n", what.c_str());
  const CommandSpec* c = command ? FindCommand(command) : nullptr;
  if (c)
    std::fprintf(stderr, "usage: voxactl ... %s\n", c->usage);
  else
    std::fprintf(stderr, "Try 'voxactl --help'.\n");
  return kExitUsage;
}

// ---------------------------------------------------------------- parsing

std::optional<int64_t> ParseInt(std::string_view s) {
  bool neg = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  // At most 18 decimal or 15 hex digits: no overflow.
  if (s.empty() || s.size() > (base == 16 ? 15u : 18u)) return std::nullopt;
  int64_t v = 0;
  for (char ch : s) {
    int d;
    if (ch >= '0' && ch <= '9')
      d = ch - '0';
    else if (base == 16 && ch >= 'a' && ch <= 'f')
      d = ch - 'a' + 10;
    else if (base == 16 && ch >= 'A' && ch <= 'F')
      d = ch - 'A' + 10;
    else
      return std::nullopt;
    v = v * base + d;
  }
  return neg ? -v : v;
}

std::optional<int32_t> ParseInt32(std::string_view s) {
  auto v = ParseInt(s);
  if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(*v);
}

std::optional<int> ParseRegister(std::string_view s) {
  if (auto v = ParseInt32(s)) return *v >= 0 && *v < 32 ? std::optional<int>(*v) : std::nullopt;
  std::string upper(s);
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (int r = 0; r < 32; ++r)
    if (upper == VOXA_Get_RegName(r)) return r;
  return std::nullopt;
}

bool ParseNumber(const std::string& s, double& v) {
  char* end = nullptr;
  v = std::strtod(s.c_str(), &end);
  return !s.empty() && end == s.c_str() + s.size() && std::isfinite(v);
}

std::vector<std::string> SplitText(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(s);
  while (std::getline(in, item, sep)) out.push_back(item);
  if (!s.empty() && s.back() == sep) out.emplace_back();
  return out;
}

std::optional<std::string> TakeOption(std::vector<std::string>& args, const std::string& name, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return std::nullopt;
      }
      std::string v = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return v;
    }
    if (args[i].rfind(name + "=", 0) == 0) {
      std::string v = args[i].substr(name.size() + 1);
      args.erase(args.begin() + static_cast<long>(i));
      return v;
    }
  }
  return std::nullopt;
}

bool Args::Flag(const char* name) {
  for (size_t i = 0; i < args_.size(); ++i)
    if (args_[i] == name) {
      args_.erase(args_.begin() + static_cast<long>(i));
      return true;
    }
  return false;
}

std::optional<int64_t> Args::Number(const char* name, int64_t lo, int64_t hi) {
  const std::string eq = std::string(name) + "=";
  for (size_t i = 0; i < args_.size(); ++i) {
    std::string text;
    if (args_[i] == name) {
      if (i + 1 >= args_.size()) {
        error_ = std::string(name) + " needs a value";
        return std::nullopt;
      }
      text = args_[i + 1];
      args_.erase(args_.begin() + static_cast<long>(i), args_.begin() + static_cast<long>(i) + 2);
    } else if (args_[i].rfind(eq, 0) == 0) {
      text = args_[i].substr(eq.size());
      args_.erase(args_.begin() + static_cast<long>(i));
    } else {
      continue;
    }
    auto v = ParseInt(text);
    if (!v || *v < lo || *v > hi) {
      error_ = std::string(name) + " takes a number from " + std::to_string(lo) + " to " + std::to_string(hi);
      return std::nullopt;
    }
    return v;
  }
  return std::nullopt;
}

bool Args::Positionals(size_t min, size_t max) {
  if (!error_.empty()) return false;
  for (const std::string& a : args_)
    if (a.size() > 1 && a[0] == '-' && !ParseInt(a)) {
      error_ = "unknown option " + a;
      return false;
    }
  if (args_.size() < min || args_.size() > max) {
    error_ = args_.size() < min ? "missing arguments" : "too many arguments";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- calls

bool Ok(const char* function) {
  if (!VOXA_Is_Err()) return true;
  const int code = VOXA_Get_LastErr();
  std::fprintf(stderr, "voxactl: %s failed: error %d: %s\n", function, code, VOXA_Get_ErrText(code));
  return false;
}

Immediate::Immediate() { VOXA_Enter_ImCmd(); }
Immediate::~Immediate() { VOXA_Leave_ImCmd(); }

bool Refresh(Session& s, uint32_t regs, int64_t timeout_ms) {
  s.SetInterruptAction([&s] { s.Close(); });
  const bool ok = !s.Interrupted() && VOXA_Refresh(regs, static_cast<int>(timeout_ms)) == 1;
  s.SetInterruptAction(nullptr);
  return ok && !s.Interrupted();
}

int BoardAnswers(Session& s, const char* consequence) {
  if (Refresh(s, (1u << VOXA_REG_CHIPSTATUS) | (1u << VOXA_REG_AXISSTATUS), kAnswerTimeout.count())) return kExitOk;
  if (s.Interrupted()) return kExitInterrupted;
  std::fprintf(stderr, "voxactl: the board did not answer within %lld ms; %s\n",
               static_cast<long long>(kAnswerTimeout.count()), consequence);
  return kExitFailed;
}

void StopAndClear() {
  Immediate im;
  VOXA_Clr_Queue();
  VOXA_DecStop();
}

// ---------------------------------------------------------------- state

StateWords State() {
  StateWords w{VOXA_Is_EnableExe() ? "enabled" : "disabled", "at rest"};
  if (VOXA_Is_EStop())
    w.activity = "emergency stop";
  else if (VOXA_Is_Alarm())
    w.activity = "alarm";
  else if (VOXA_Is_Pause())
    w.activity = "paused";
  else if (VOXA_Is_OnMotion())
    w.activity = "moving";
  else if (VOXA_Get_CmdState() == 1)
    w.activity = "running";  // a command that moves nothing, a delay say
  return w;
}

std::string StateText(const StateWords& w) { return std::string(w.enable) + ", " + w.activity; }

std::string ExecutionText() {
  return StateText(State()) + "; board queue " + std::to_string(VOXA_Get_EngineQueueLeftCmd()) + ", host queue " +
         std::to_string(VOXA_Get_SoftQueueLeftCmd());
}

std::string AlarmText() {
  if (!VOXA_Is_Alarm()) return "none";
  char text[96];
  std::snprintf(text, sizeof text, "%s, code 0x%08X", VOXA_Is_EStop() ? "EMERGENCY STOP" : "ALARM",
                static_cast<unsigned>(VOXA_Get_Alarm()));
  std::string axes;
  for (int a = 0; a < 8; ++a)
    if (VOXA_Is_AlarmAxis(1 << a)) axes += " " + std::to_string(a);
  return text + (axes.empty() ? "" : ", axes" + axes);
}

std::string StateLines() { return "execution  " + ExecutionText() + "\nalarm      " + AlarmText() + "\n"; }

// ---------------------------------------------------------------- JSON

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

}  // namespace voxactl
