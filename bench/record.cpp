// Recording: `voxactl record` as its own process against a simulated board
// that reports its state every PERIOD ms, for SECONDS. Prints the samples
// recorded and lost, the mean period and the CPU the recording process
// used, as a share of one core.
//
//   bench_record [SECONDS [PERIOD_MS]]      (default 60 s, 10 ms)
//
// The board's own state timer goes down to 25 ms; below that (and by
// default) this program paces the board's state packets itself, sending
// one report of chip and axis status, positions, encoders and velocities
// each period, and the recorder leaves the board's timer alone. At 25 ms or
// more the recorder switches the board's timer on as a user would.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim.h"

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
  const int period_ms = argc > 2 ? std::atoi(argv[2]) : 10;
  const bool paced = period_ms < 25;
  auto sim = voxa_sim::SimBoard::StartTcp();
  if (!sim) return 1;

  std::atomic<bool> stop{false};
  std::atomic<uint64_t> sent{0};
  std::thread pacer;
  if (paced)
    pacer = std::thread([&] {
      auto next = Clock::now();
      while (!stop.load()) {
        next += std::chrono::milliseconds(period_ms);
        std::this_thread::sleep_until(next);
        // Axis 3's position numbers the reports, so a lost one shows.
        sim->SetReg(voxa_sim::CURPOS, 3, static_cast<uint32_t>(sent.fetch_add(1) + 1));
        sim->SendStatePacket(0x1F);
      }
    });

  const std::string csv = "/tmp/bench_record_" + std::to_string(getpid()) + ".csv";
  const std::string port = "127.0.0.1:" + std::to_string(sim->Port());
  const std::string duration = std::to_string(seconds);
  const std::string state_ms = paced ? "0" : std::to_string(period_ms);
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    // Its summary goes to a file, read below; its notes to nowhere.
    const int out = ::open((csv + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = ::open("/dev/null", O_WRONLY);
    if (out >= 0) dup2(out, 1);
    if (null >= 0) dup2(null, 2);
    execl(VOXACTL_PATH, "voxactl", "--tcp", port.c_str(), "record", "--signals", "pos,vel,enc,status", "--axes",
          "0,1,2,3", "--duration", duration.c_str(), "--state-ms", state_ms.c_str(), "--csv", csv.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  stop.store(true);
  if (pacer.joinable()) pacer.join();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "voxactl record failed (status %d)\n", status);
    return 1;
  }

  std::ifstream in(csv);
  std::string line;
  std::getline(in, line);
  std::vector<double> t;
  std::vector<long> seq;  // pos3: the report's number when paced
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    std::string cell;
    std::vector<std::string> row;
    while (std::getline(cells, cell, ',')) row.push_back(cell);
    t.push_back(std::atof(row[0].c_str()));
    seq.push_back(row.size() > 4 ? std::atol(row[4].c_str()) : 0);
  }
  std::remove(csv.c_str());
  std::string merged = "?";
  {
    std::ifstream summary(csv + ".out");
    while (std::getline(summary, line))
      if (line.rfind("merged", 0) == 0) merged = line.substr(line.find_first_not_of(' ', 6));
  }
  std::remove((csv + ".out").c_str());
  // Lost: reports numbered between the first and the last recorded that
  // never made a sample (paced only). Late: intervals over 1.5 periods.
  long lost = 0, repeated = 0;
  size_t late = 0;
  double longest = 0;
  for (size_t i = 1; i < t.size(); ++i) {
    const double dt = (t[i] - t[i - 1]) * 1000;
    longest = std::max(longest, dt);
    if (dt > 1.5 * period_ms) ++late;
    if (paced) {
      if (seq[i] > seq[i - 1] + 1) lost += seq[i] - seq[i - 1] - 1;
      if (seq[i] <= seq[i - 1]) ++repeated;
    }
  }
  const double mean = t.size() > 1 ? (t.back() - t.front()) * 1000 / static_cast<double>(t.size() - 1) : 0;
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  // The handler reads the register image when it runs: when it runs after
  // the next report was applied, its sample shows that report's values
  // (one number repeated, one skipped), though no report went unrecorded.
  const long window = paced && !seq.empty() ? seq.back() - seq.front() + 1 : 0;
  std::printf("recording %.0f s at %d ms (%s): %zu samples", seconds, period_ms,
              paced ? "paced state packets" : "the board's state timer", t.size());
  if (paced)
    std::printf(" of %ld reports sent (%ld missing); %ld samples show a later report's values (%ld numbers skipped)",
                window, window - static_cast<long>(t.size()), repeated, lost);
  std::printf("\nmerged by the library: %s", merged.c_str());
  std::printf("\nmean period %.4f ms (%+.3f %%), %zu intervals over 1.5 periods, longest %.2f ms\n", mean,
              (mean / period_ms - 1) * 100, late, longest);
  std::printf("recording process: %.2f s CPU in %.1f s = %.2f %% of a core (max RSS %ld KiB)\n", cpu, wall,
              cpu / wall * 100, usage.ru_maxrss);
  return 0;
}
