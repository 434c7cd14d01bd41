#include "platform/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace voxa::platform {
namespace {

struct BaudEntry {
  uint32_t rate;
  speed_t speed;
};

constexpr BaudEntry kBaudTable[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedOf(uint32_t rate, speed_t* out) {
  for (const auto& e : kBaudTable) {
    if (e.rate == rate) {
      *out = e.speed;
      return true;
    }
  }
  return false;
}

uint32_t RateOf(speed_t speed) {
  for (const auto& e : kBaudTable)
    if (e.speed == speed) return e.rate;
  return 0;
}

void CloseFd(intptr_t& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

}  // namespace

std::string SerialDeviceName(uint16_t port) {
  if (port == 0) return {};
  char name[64];
  std::snprintf(name, sizeof name, "/dev/ttyS%u", static_cast<unsigned>(port) - 1u);
  return name;
}

int SerialPort::Open(const char* path, const SerialSettings& settings) {
  Close();
  if (path == nullptr || *path == '\0') return ENOENT;
  speed_t speed;
  if (!SpeedOf(settings.baud, &speed)) return EINVAL;
  tcflag_t size_bits;
  switch (settings.byte_size) {
    case 5: size_bits = CS5; break;
    case 6: size_bits = CS6; break;
    case 7: size_bits = CS7; break;
    case 8: size_bits = CS8; break;
    default: return EINVAL;
  }
  if (settings.stop_bits > 2 || settings.parity > 4) return EINVAL;

  int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  if (!::isatty(fd)) {
    ::close(fd);
    return ENOTTY;
  }
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    int err = errno;
    ::close(fd);
    return err;
  }
  // Raw bytes both ways; the parity-check switch keeps the device's value.
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                      IXOFF | IXANY | IUCLC | IMAXBEL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | HUPCL);
  t.c_cflag |= size_bits | CLOCAL | CREAD;
  // Linux has no one-and-a-half stop bits of its own: two stop bits give 1.5
  // with five data bits, as the UART does.
  if (settings.stop_bits != 0) t.c_cflag |= CSTOPB;
  switch (settings.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  // Reads return at once with whatever the driver holds.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0 || ::tcsetattr(fd, TCSANOW, &t) != 0) {
    int err = errno;
    ::tcflush(fd, TCIOFLUSH);
    ::close(fd);
    return err;
  }
  // tcsetattr succeeds when any of the changes took; check the rate did.
  termios back{};
  if (::tcgetattr(fd, &back) == 0 && ::cfgetospeed(&back) != speed) {
    ::close(fd);
    return EINVAL;
  }
  // DTR and RTS low (not supported by a pseudo-terminal; harmless there).
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)::ioctl(fd, TIOCMBIC, &lines);
  ::tcflush(fd, TCIOFLUSH);

  int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  int kick = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0 || kick < 0) {
    int err = errno;
    ::close(fd);
    if (wake >= 0) ::close(wake);
    if (kick >= 0) ::close(kick);
    return err;
  }
  // Exclusive: later opens of the device fail while we hold it.
  (void)::ioctl(fd, TIOCEXCL);
  fd_ = fd;
  wake_fd_ = wake;
  kick_fd_ = kick;
  return 0;
}

int SerialPort::SetBaud(uint32_t baud) {
  if (fd_ < 0) return EBADF;
  speed_t speed;
  if (!SpeedOf(baud, &speed)) return EINVAL;
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) return errno;
  termios old = t;
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return errno;
  if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
    int err = errno;
    ::tcsetattr(fd_, TCSANOW, &old);
    return err;
  }
  ::tcflush(fd_, TCIOFLUSH);
  return 0;
}

void SerialPort::Purge() {
  if (fd_ >= 0) ::tcflush(fd_, TCIOFLUSH);
}

long SerialPort::Read(uint8_t* buf, size_t max, int* err) {
  *err = 0;
  if (fd_ < 0) {
    *err = EBADF;
    return -1;
  }
  for (;;) {
    ssize_t n = ::read(fd_, buf, max);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    *err = errno;
    return -1;
  }
}

size_t SerialPort::Write(const uint8_t* buf, size_t n, int wait_ms) {
  if (fd_ < 0) return 0;
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::write(fd_, buf + done, n - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    // The driver's queue is full: wait for room, or for the close.
    pollfd p[2] = {{static_cast<int>(fd_), POLLOUT, 0}, {static_cast<int>(wake_fd_), POLLIN, 0}};
    int r = ::poll(p, 2, wait_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (p[1].revents & POLLIN) || (p[0].revents & (POLLERR | POLLHUP | POLLNVAL))) break;
  }
  return done;
}

long SerialPort::WriteSome(const uint8_t* buf, size_t n, int* err) {
  *err = 0;
  if (fd_ < 0) {
    *err = EBADF;
    return -1;
  }
  for (;;) {
    ssize_t w = ::write(fd_, buf, n);
    if (w >= 0) return static_cast<long>(w);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    *err = errno;
    return -1;
  }
}

unsigned SerialPort::WaitEvents(bool want_write, int timeout_ms) {
  if (fd_ < 0) return kEvHangup;
  pollfd p[3] = {{static_cast<int>(fd_), static_cast<short>(POLLIN | (want_write ? POLLOUT : 0)), 0},
                 {static_cast<int>(wake_fd_), POLLIN, 0},
                 {static_cast<int>(kick_fd_), POLLIN, 0}};
  int r = ::poll(p, 3, timeout_ms);
  if (r <= 0) return r < 0 && errno != EINTR ? kEvHangup : 0u;
  unsigned ev = 0;
  if (p[1].revents & POLLIN) ev |= kEvWoken;
  if (p[2].revents & POLLIN) {
    uint64_t count;
    ssize_t got = ::read(kick_fd_, &count, sizeof count);
    (void)got;
    ev |= kEvKicked;
  }
  if (p[0].revents & POLLIN) ev |= kEvReadable;
  if (p[0].revents & POLLOUT) ev |= kEvWritable;
  // A hung-up tty stays readable (with nothing to read): report the hang-up.
  if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) ev |= kEvHangup;
  return ev;
}

void SerialPort::Kick() {
  if (kick_fd_ < 0) return;
  uint64_t one = 1;
  ssize_t r = ::write(kick_fd_, &one, sizeof one);
  (void)r;
}

SerialPort::Wait SerialPort::WaitReadable(int timeout_ms) {
  if (fd_ < 0) return Wait::kHangup;
  pollfd p[2] = {{static_cast<int>(fd_), POLLIN, 0}, {static_cast<int>(wake_fd_), POLLIN, 0}};
  int r = ::poll(p, 2, timeout_ms);
  if (r < 0) return errno == EINTR ? Wait::kTimeout : Wait::kHangup;
  if (r == 0) return Wait::kTimeout;
  if (p[1].revents & POLLIN) return Wait::kWoken;
  // A hung-up tty stays readable (with nothing to read): report the hang-up.
  if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Wait::kHangup;
  return Wait::kReadable;
}

void SerialPort::WaitForWake() {
  if (wake_fd_ < 0) return;
  pollfd p{static_cast<int>(wake_fd_), POLLIN, 0};
  while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
  }
}

void SerialPort::Wake() {
  if (wake_fd_ < 0) return;
  uint64_t one = 1;
  ssize_t r = ::write(wake_fd_, &one, sizeof one);
  (void)r;  // a full counter is still readable: the wake stands
}

int SerialPort::GetSettings(SerialSettings* out) const {
  if (fd_ < 0) return EBADF;
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) return errno;
  out->baud = RateOf(::cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5: out->byte_size = 5; break;
    case CS6: out->byte_size = 6; break;
    case CS7: out->byte_size = 7; break;
    default: out->byte_size = 8; break;
  }
  out->stop_bits = (t.c_cflag & CSTOPB) ? 2 : 0;
  if (!(t.c_cflag & PARENB))
    out->parity = 0;
  else if (t.c_cflag & CMSPAR)
    out->parity = (t.c_cflag & PARODD) ? 3 : 4;
  else
    out->parity = (t.c_cflag & PARODD) ? 1 : 2;
  return 0;
}

void SerialPort::Close() {
  if (fd_ >= 0) {
    ::tcflush(fd_, TCIOFLUSH);
    // A pseudo-terminal outlives our close while its master is open; the
    // exclusive mark would keep it from being opened again.
    (void)::ioctl(fd_, TIOCNXCL);
  }
  CloseFd(fd_);
  CloseFd(wake_fd_);
  CloseFd(kick_fd_);
}

}  // namespace voxa::platform
