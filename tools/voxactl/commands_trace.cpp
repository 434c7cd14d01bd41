// `trace`: the frames of this connection both ways as they pass.
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <deque>

#include "commands.h"
#include "frame_text.h"

namespace voxactl {
namespace {

Command CmdTrace(Args& args) {
  // Frames are timed from here, before the board is opened.
  const Clock::time_point start = Clock::now();
  const auto duration = args.Number("--duration", 1, 86400000);
  const auto count = args.Number("--count", 1, INT64_MAX);
  const bool no_polls = args.Flag("--no-polls");
  if (!args.Positionals(0, 0)) return Bad(args.Error());
  return Do([=](Session& s) {
    if (isatty(STDERR_FILENO))
      std::fprintf(stderr, "voxactl: the frames of this connection only, not those of other programs\n");
    // Frames since the open are already in; `trace` shows them too.
    const auto end = duration ? Clock::now() + Ms(*duration) : Clock::time_point::max();
    int64_t printed = 0;
    std::deque<TracedFrame> frames;
    while (!s.Interrupted() && Clock::now() < end && (!count || printed < *count)) {
      const uint64_t dropped = s.TakeFrames(frames, std::min(end, Clock::now() + Ms(1000)));
      if (dropped) std::printf("... %" PRIu64 " frames not shown (output too slow)\n", dropped);
      for (const TracedFrame& f : frames) {
        if (count && printed >= *count) break;
        if (no_polls && IsPollTraffic(f.direction, f.bytes.data(), static_cast<int>(f.bytes.size()))) continue;
        const double t = std::chrono::duration<double>(f.time - start).count();
        const int n = static_cast<int>(f.bytes.size());
        std::printf("%11.6f %s %-48s %s\n", t, f.direction == kSent ? "->" : "<-",
                    DescribeFrame(f.direction, f.bytes.data(), n).c_str(), HexBytes(f.bytes.data(), n).c_str());
        ++printed;
      }
      frames.clear();
      std::fflush(stdout);
    }
    return kExitOk;
  });
}

}  // namespace

std::span<const CommandSpec> TraceCommands() {
  static constexpr CommandSpec kCommands[] = {
      {.name = "trace",
       .usage = "trace [--duration MS] [--count N] [--no-polls]",
       .help = "Prints every frame both ways as it passes: time since the start in seconds, direction\n"
               "(-> to the board, <- from it), the decoded command or packet and the bytes in hex.\n"
               "Runs until Ctrl-C, for MS milliseconds or for N frames. --no-polls leaves out the\n"
               "library's register polls and keep-alives and the board's answers to them. Shows the\n"
               "frames of voxactl's own connection only, not those of other programs.",
       .parse = &CmdTrace,
       .captures = true},
  };
  return kCommands;
}

}  // namespace voxactl
