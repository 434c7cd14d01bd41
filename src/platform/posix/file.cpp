#include "platform/file.h"
#include "platform/read_limited.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace voxa::platform {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    const int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a write to path lands in: symbolic links followed to their end
// (a relative one from its own directory), whether or not that file exists
// yet. False for a link that cannot be read or a chain of links that does
// not end (a loop).
bool ResolveTarget(const std::string& path, std::string& target) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      target = p;
      return true;
    }
    char link[PATH_MAX];
    const ssize_t n = ::readlink(p.c_str(), link, sizeof link);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof link) return false;
    const std::string next(link, static_cast<size_t>(n));
    p = next[0] == '/' ? next : DirectoryOf(p) + "/" + next;
  }
  return false;
}

std::atomic<unsigned> g_temp_counter{0};

}  // namespace

FileReadResult ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& out) {
  out.clear();
  // Non-blocking open: a FIFO without a writer must not hang the caller.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return (errno == ENOENT || errno == ENOTDIR) ? FileReadResult::Missing : FileReadResult::Failed;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return FileReadResult::Failed;
  if (static_cast<uint64_t>(st.st_size) > limit) return FileReadResult::TooLarge;
  out.reserve(static_cast<size_t>(st.st_size) + 1);
  return backend::ReadLimited(out, limit, [&](uint8_t* buffer, size_t room) -> long long {
    for (;;) {
      const ssize_t n = ::read(fd.get(), buffer, room);
      if (n >= 0 || errno != EINTR) return n;
    }
  });
}

bool ReplaceWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  if (path.empty() || (size > 0 && data == nullptr)) return false;
  std::string target;
  if (!ResolveTarget(path, target)) return false;
  struct stat old;
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists) {
    if (!S_ISREG(old.st_mode)) return false;
    // Renaming needs only the directory's permission; a file its owner made
    // read-only stays as it is.
    if (::access(target.c_str(), W_OK) != 0) return false;
  }

  std::string temp;
  int raw = -1;
  for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
    temp = DirectoryOf(target) + "/." + BaseOf(target).substr(0, 100) + ".tmp" + std::to_string(::getpid()) + "-" +
           std::to_string(g_temp_counter.fetch_add(1));
    raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw < 0 && errno != EEXIST) return false;
  }
  if (raw < 0) return false;
  Fd fd(raw);
  bool ok = WriteAll(fd.get(), data, size);
  if (ok && exists) ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
  if (ok) ok = ::fsync(fd.get()) == 0;
  ok = fd.Close() && ok;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; the file is in place whatever this says.
  Fd dir(::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::optional<std::string> AnsiToUtf8(const char*) { return std::nullopt; }

}  // namespace voxa::platform
