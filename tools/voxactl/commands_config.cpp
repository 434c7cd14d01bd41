// `save` and `load`: configuration files, saved with the registers as the
// board reports them.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "commands.h"
#include "config_problem.h"
#include "voxa/voxa.h"

namespace voxactl {
namespace {

// The registers `save` asks the board for: all of them.
constexpr uint32_t kSavedRegs = 0xFFFFFFFFu;

std::string RegisterNames(uint32_t regs) {
  std::string names;
  for (int r = 0; r < 32; ++r)
    if (regs & (1u << r)) names += (names.empty() ? "" : ", ") + std::string(VOXA_Get_RegName(r));
  return names;
}

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Why a file cannot be written where `path` says (its folder missing, not
// a folder, no permission), or empty.
std::string Unwritable(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path p(path);
  const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
  std::error_code error;
  const fs::file_status st = fs::status(folder, error);
  if (!fs::exists(st)) return "the folder " + folder.string() + " does not exist";
  if (!fs::is_directory(st)) return folder.string() + " is not a folder";
  if (fs::is_directory(fs::status(p, error))) return "it is a folder";
  // The test the library's save will face: a file beside it.
  const std::string probe = path + ".voxactl-probe-" + std::to_string(getpid());
  errno = 0;
  if (FILE* f = std::fopen(probe.c_str(), "wb")) {
    std::fclose(f);
    std::remove(probe.c_str());
    return "";
  }
  const int e = errno;
  return e ? std::generic_category().message(e) : "the file cannot be created";
}

Command CmdSave(Args& args) {
  if (!args.Positionals(1, 1)) return Bad(args.Error());
  const std::string path = args.rest()[0];
  return Do([=](Session& s) {
    // A file that cannot be written is told before the board is asked,
    // with the system's reason.
    if (const std::string why = Unwritable(path); !why.empty()) {
      std::fprintf(stderr, "voxactl: cannot save %s: %s; nothing was saved\n", path.c_str(), why.c_str());
      return kExitFailed;
    }
    // Every register as the board holds it now.
    const bool answered = Refresh(s, kSavedRegs, kAnswerTimeout.count());
    if (s.Interrupted()) return kExitInterrupted;
    if (!answered) {
      uint32_t missing = 0;
      for (int r = 0; r < 32; ++r)
        if ((kSavedRegs & (1u << r)) && VOXA_Get_RegAge(r) < 0) missing |= 1u << r;
      std::fprintf(stderr, "voxactl: the board did not report %s within %lld ms; nothing was saved\n",
                   missing == 0 || missing == kSavedRegs ? "its registers" : RegisterNames(missing).c_str(),
                   static_cast<long long>(kAnswerTimeout.count()));
      return kExitFailed;
    }
    // The library writes the registers as the board reported them, keeps
    // the other sections of an existing file, and replaces the file only
    // once it is complete.
    if (!VOXA_Save_ReportedConfigFile(path.c_str())) {
      Ok("VOXA_Save_ReportedConfigFile");
      std::fprintf(stderr, "voxactl: cannot write %s; nothing was saved\n", path.c_str());
      return kExitFailed;
    }
    std::printf("saved %s\n", path.c_str());
    return kExitOk;
  });
}

// A load writes every word of the 32 registers, one frame each, then sets
// up the PID controllers and restarts execution: the bar follows the words
// to 90 %, the rest by time.
constexpr int kLoadWords = 32 * 8;
constexpr double kAfterWordsSeconds = 0.25;

void DrawBar(int percent) {
  constexpr int kWidth = 40;
  char bar[kWidth + 1];
  const int filled = percent * kWidth / 100;
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = '\0';
  std::fprintf(stderr, "\rloading [%s] %3d%%", bar, percent);
  std::fflush(stderr);
}

Command CmdLoad(Args& args) {
  if (!args.Positionals(1, 1)) return Bad(args.Error());
  const std::string path = args.rest()[0];
  return Do([=](Session& s) {
    // The bar on a terminal only; elsewhere one line at the end.
    const bool tty = isatty(STDERR_FILENO) != 0;
    std::atomic<bool> done{false};
    const uint64_t base = s.ConfigWrites();
    std::thread bar;
    if (tty) bar = std::thread([&] {
      uint64_t seen = base;
      int shown = -1;
      std::optional<Clock::time_point> words_done;
      while (!done.load()) {
        seen = s.WaitConfigWrites(seen, done, Clock::now() + Ms(50));
        const int words = static_cast<int>(std::min<uint64_t>(seen - base, kLoadWords));
        int percent = words * 90 / kLoadWords;
        if (words == kLoadWords) {
          if (!words_done) words_done = Clock::now();
          const double t = std::chrono::duration<double>(Clock::now() - *words_done).count();
          percent = 90 + static_cast<int>(std::min(t / kAfterWordsSeconds, 0.99) * 10);
        }
        if (percent != shown && !done.load()) DrawBar(shown = percent);
      }
    });
    const int ok = VOXA_Load_ConfigFile(path.c_str());
    const bool failed = VOXA_Is_Err() != 0;
    done.store(true);
    s.WakeAll();
    if (tty) {
      bar.join();
      if (ok) DrawBar(100);
      std::fputs("\n", stderr);
    }
    if (!ok) {
      if (failed) {
        Ok("VOXA_Load_ConfigFile");
        std::string bytes;
        const std::string problem = ReadFile(path, bytes) ? ConfigFileProblem(bytes) : "";
        std::fprintf(stderr, "voxactl: nothing of %s was loaded: %s\n", path.c_str(),
                     problem.empty() ? "the library refused it (is it readable, under 4 MB?)" : problem.c_str());
      } else {
        std::fprintf(stderr, "voxactl: %s does not exist\n", path.c_str());
      }
      return kExitFailed;
    }
    std::printf("loaded %s\n", path.c_str());
    return kExitOk;
  });
}

}  // namespace

std::span<const CommandSpec> ConfigCommands() {
  static constexpr CommandSpec kCommands[] = {
      {"save", "save FILE",
       "Saves the board's registers to a configuration file (other sections of an existing file\n"
       "stay): every register is read from the board first, and nothing is written when the\n"
       "board does not answer them all. The PID setups are saved as this process knows them\n"
       "(none): keep those of a file saved by the application that set them up.",
       &CmdSave},
      {"load", "load FILE",
       "Loads a configuration file onto the board (about half a second), with a progress bar on\n"
       "a terminal. A file that cannot be loaded is named with what is wrong in it (missing\n"
       "register entries, no board section, text that is not UTF-16LE).",
       &CmdLoad},
  };
  return kCommands;
}

}  // namespace voxactl
