// `regs`, `get` and `set`: register words as the board reports them (the
// library's reported words), or as this process's register image holds them.
#include <cstdio>

#include "commands.h"
#include "voxa/voxa.h"

namespace voxactl {
namespace {

// Registers only the board writes: `set` refuses them.
constexpr uint32_t kBoardOnlyRegs = (1u << VOXA_REG_CHIPSTATUS) | (1u << VOXA_REG_AXISSTATUS) |
                                    (1u << VOXA_REG_CURVEL) | (1u << VOXA_REG_FEEDBACK);
// Every register the library polls (all but CAL2 and CAL3).
constexpr uint32_t kPolledRegs = ~((1u << VOXA_REG_CAL2) | (1u << VOXA_REG_CAL3));

// One column of `regs`: 12 wide, a blank at least before each value.
std::string WordText(uint32_t v, bool dec) {
  char buf[24];
  if (dec)
    std::snprintf(buf, sizeof buf, " %11d", static_cast<int32_t>(v));
  else
    std::snprintf(buf, sizeof buf, "    %08X", v);
  return buf;
}

// Asks the board for the registers and waits until it has answered them
// all. Prints why not and returns the exit code when the board answered
// nothing; a board that answered some goes on with what it reported.
// `answered`: the registers the board has answered, every one asked when it
// answered them all.
int ReadFromBoard(Session& s, uint32_t regs, uint32_t& answered) {
  answered = 0;
  if (Refresh(s, regs, 5000)) {
    answered = regs;
    return kExitOk;
  }
  if (s.Interrupted()) return kExitInterrupted;
  if (s.ReceivedFrames() == 0) {
    std::fprintf(stderr, "voxactl: the board did not answer\n");
    return kExitFailed;
  }
  return kExitOk;
}

// A word of the register image (host) or as the board reported it on this
// link (the registers in `answered`, or any the library says the board has
// reported); false when the board has not reported the register.
bool WordOf(bool host, uint32_t answered, int r, int w, uint32_t& v) {
  if (host) return VOXA_Get_RegWord(r, w, &v) != 0;
  if (!(answered & (1u << r)) && VOXA_Get_RegAge(r) < 0) return false;
  return VOXA_Get_ReportedRegWord(r, w, &v) != 0;
}

Command CmdRegs(Args& args) {
  const bool dec = args.Flag("--dec");
  const bool host = args.Flag("--host");
  const bool reported = args.Flag("--reported");  // the default; kept for scripts that give it
  const bool json = args.Flag("--json");
  if (!args.Positionals(0, 0)) return Bad(args.Error());
  if (host && reported) return Bad(UsageError("--host and --reported exclude each other", "regs"));
  return Do([=](Session& s) {
    uint32_t answered = 0;
    if (const int rc = ReadFromBoard(s, kPolledRegs, answered)) return rc;
    bool all = true;
    std::string out = json ? std::string("{\"source\":\"") + (host ? "host" : "board") + "\",\"registers\":["
                           : "reg  name       ";
    if (!json) {
      for (int w = 0; w < 8; ++w) out += "      word " + std::to_string(w);
      out += "\n";
    }
    for (int r = 0; r < 32; ++r) {
      char head[64];
      if (json)
        std::snprintf(head, sizeof head, "%s{\"number\":%d,\"name\":\"%s\",\"words\":[", r ? "," : "", r,
                      VOXA_Get_RegName(r));
      else
        std::snprintf(head, sizeof head, "%3d  %-11s", r, VOXA_Get_RegName(r));
      out += head;
      for (int w = 0; w < 8; ++w) {
        uint32_t v = 0;
        const bool known = WordOf(host, answered, r, w, v);
        if (!known && (kPolledRegs & (1u << r))) all = false;
        if (json)
          out += (w ? "," : "") + (known ? std::to_string(static_cast<int32_t>(v)) : std::string("null"));
        else
          out += known ? WordText(v, dec) : "           -";
      }
      out += json ? "]}" : "\n";
    }
    if (json) out += "]}\n";
    if (!all && !host) std::fprintf(stderr, "voxactl: the board has not reported every register ('-' or null)\n");
    std::fputs(out.c_str(), stdout);
    return kExitOk;
  });
}

Command CmdGet(Args& args) {
  const bool host = args.Flag("--host");
  const bool reported = args.Flag("--reported");  // the default; kept for scripts that give it
  const bool json = args.Flag("--json");
  if (!args.Positionals(2, 2)) return Bad(args.Error());
  if (host && reported) return Bad(UsageError("--host and --reported exclude each other", "get"));
  const auto reg = ParseRegister(args.rest()[0]);
  const auto word = ParseInt32(args.rest()[1]);
  if (!reg) return Bad(UsageError("no register is called '" + args.rest()[0] + "' (0..31 or a name)", "get"));
  if (!word || *word < 0 || *word > 7) return Bad(UsageError("'" + args.rest()[1] + "' is not a word 0..7", "get"));
  return Do([=](Session& s) {
    uint32_t answered = 0;
    if (const int rc = ReadFromBoard(s, 1u << *reg, answered)) return rc;
    uint32_t v = 0;
    if (!WordOf(host, answered, *reg, *word, v)) {
      if (host)
        Ok("VOXA_Get_RegWord");
      else
        std::fprintf(stderr, "voxactl: the board has not reported %s word %d\n", VOXA_Get_RegName(*reg), *word);
      return kExitFailed;
    }
    if (json)
      std::printf("{\"register\":\"%s\",\"number\":%d,\"word\":%d,\"value\":%d,\"unsigned\":%u,\"source\":\"%s\"}\n",
                  VOXA_Get_RegName(*reg), *reg, *word, static_cast<int32_t>(v), v, host ? "host" : "board");
    else
      std::printf("%s[%d] = %d (0x%08X)\n", VOXA_Get_RegName(*reg), *word, static_cast<int32_t>(v), v);
    return kExitOk;
  });
}

Command CmdSet(Args& args) {
  if (!args.Positionals(3, 3)) return Bad(args.Error());
  const auto reg = ParseRegister(args.rest()[0]);
  const auto word = ParseInt32(args.rest()[1]);
  const auto value = ParseInt(args.rest()[2]);
  if (!reg) return Bad(UsageError("no register is called '" + args.rest()[0] + "' (0..31 or a name)", "set"));
  if (kBoardOnlyRegs & (1u << *reg))
    return Bad(
        UsageError(std::string(VOXA_Get_RegName(*reg)) + " is a status register: only the board writes it", "set"));
  if (!word || *word < 0 || *word > 7) return Bad(UsageError("'" + args.rest()[1] + "' is not a word 0..7", "set"));
  if (!value || *value < INT32_MIN || *value > UINT32_MAX)
    return Bad(UsageError("'" + args.rest()[2] + "' is not a 32-bit value", "set"));
  const uint32_t v = static_cast<uint32_t>(*value);
  return Do([=](Session&) {
    {
      Immediate im;
      VOXA_Set_RegWord(*reg, *word, v);
      if (!Ok("VOXA_Set_RegWord")) return kExitFailed;
    }
    std::printf("%s[%d] := %d (0x%08X)\n", VOXA_Get_RegName(*reg), *word, static_cast<int32_t>(v), v);
    return kExitOk;
  });
}

}  // namespace

std::span<const CommandSpec> RegisterCommands() {
  static constexpr CommandSpec kCommands[] = {
      {"regs", "regs [--dec] [--host] [--json]",
       "Prints the registers as the board reports them, a table of register names and eight\n"
       "words each ('-' for a register it has not reported), once it has answered a read of\n"
       "every polled register. --host shows this process's register image instead: the\n"
       "settings registers as this process set them (a fresh process has set none). --dec\n"
       "prints signed decimals; --json one JSON object (null for the words of registers not\n"
       "reported).",
       &CmdRegs},
      {"get", "get [--host] [--json] REG WORD",
       "Prints word WORD (0..7) of register REG (number 0..31 or name, e.g. CURPOS) as the board\n"
       "reports it, or from this process's register image with --host. --json prints one JSON\n"
       "object.",
       &CmdGet},
      {"set", "set REG WORD VALUE",
       "Sets word WORD of register REG to VALUE (decimal, or hex with 0x; negative values are\n"
       "taken as 32-bit two's complement) in the register image and writes it to the board.\n"
       "The registers only the board writes (CHIPSTATUS, AXISSTATUS, CURVEL, FEEDBACK) are refused.",
       &CmdSet},
  };
  return kCommands;
}

}  // namespace voxactl
