#include "platform/pty.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/listener.h"

namespace voxa::platform {
namespace {

bool MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

long ReadFd(int fd, uint8_t* data, size_t max) {
  if (fd < 0) return kClosed;
  ssize_t r;
  do {
    r = read(fd, data, max);
  } while (r < 0 && errno == EINTR);
  if (r > 0) return static_cast<long>(r);
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kWouldBlock;
  return kClosed;
}

long WriteFd(int fd, const uint8_t* data, size_t n) {
  if (fd < 0) return kClosed;
  if (n == 0) return kWouldBlock;
  ssize_t r;
  do {
    r = write(fd, data, n);
  } while (r < 0 && errno == EINTR);
  if (r >= 0) return static_cast<long>(r);
  return (errno == EAGAIN || errno == EWOULDBLOCK) ? kWouldBlock : kClosed;
}

}  // namespace

// ---- PtyMaster ----

PtyMaster::~PtyMaster() { Close(); }

bool PtyMaster::Open() {
  Close();
  int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m < 0) return false;
  char name[128];
  if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
    close(m);
    return false;
  }
  int s = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (s < 0 || !MakeRaw(s)) {
    if (s >= 0) close(s);
    close(m);
    return false;
  }
  int fl = fcntl(m, F_GETFL, 0);
  if (fl < 0 || fcntl(m, F_SETFL, fl | O_NONBLOCK) != 0) {
    close(s);
    close(m);
    return false;
  }
  master_ = m;
  slave_ = s;
  path_ = name;
  return true;
}

long PtyMaster::Read(uint8_t* data, size_t max) {
  long r = ReadFd(master_, data, max);
  // EIO means that no slave is open; ours always is, so treat it as "nothing".
  if (r == kClosed && errno == EIO) return kWouldBlock;
  return r;
}

long PtyMaster::Write(const uint8_t* data, size_t n) { return WriteFd(master_, data, n); }

void PtyMaster::Flush() {
  if (slave_ >= 0) tcflush(slave_, TCIOFLUSH);
}

void PtyMaster::Close() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
  path_.clear();
}

// ---- RawTty ----

RawTty::~RawTty() { Close(); }

bool RawTty::Open(const std::string& path) {
  Close();
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  if (!MakeRaw(fd)) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

long RawTty::Read(uint8_t* data, size_t max) { return ReadFd(fd_, data, max); }
long RawTty::Write(const uint8_t* data, size_t n) { return WriteFd(fd_, data, n); }

void RawTty::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace voxa::platform
