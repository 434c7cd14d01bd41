// Linux-only helpers for the transport tests: a pseudo-terminal pair and
// descriptor and thread counts from /proc.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <string>

#include "helpers.h"

namespace voxa::test {

inline int CountOpenFds() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

// Threads of the process, but for the library's dispatch thread, which
// belongs to no board and comes and goes on its own (it ends when idle). A
// ThreadSanitizer build starts a thread of its own when the program creates
// its first thread: one thread started and joined before the first count
// makes that happen before any baseline is taken.
inline int CountThreads() {
  static const bool sanitizer_thread_started = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)sanitizer_thread_started;
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      char name[32] = {};
      const int fd = open(("/proc/self/task/" + std::string(e->d_name) + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0) {
        const ssize_t r = read(fd, name, sizeof name - 1);
        (void)r;
        close(fd);
      }
      if (std::string(name) != "voxa-dispatch\n") ++n;
    }
    closedir(d);
  }
  return n;
}

// A pseudo-terminal: the test holds the master, the transport opens the
// slave by its path.
class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      if (const char* name = ptsname(master_)) slave_path_ = name;
    }
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && !slave_path_.empty(); }
  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  bool Write(const std::vector<uint8_t>& v) {
    size_t done = 0;
    while (done < v.size()) {
      ssize_t w = write(master_, v.data() + done, v.size() - done);
      if (w <= 0) return false;
      done += static_cast<size_t>(w);
    }
    return true;
  }
  std::vector<uint8_t> Read(size_t n, int timeout_ms = 2000) {
    std::vector<uint8_t> out;
    auto start = SteadyClock::now();
    uint8_t buf[4096];
    while (out.size() < n && ElapsedMs(start) < timeout_ms) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      ssize_t r = read(master_, buf, sizeof buf);
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string slave_path_;
};

}  // namespace voxa::test
