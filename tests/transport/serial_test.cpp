// The serial link over a pseudo-terminal.
#include <gtest/gtest.h>
#include <termios.h>
#include <time.h>

#include "posix_helpers.h"
#include "platform/serial.h"
#include "transport/serial_link.h"

namespace voxa {
namespace {

using test::ElapsedMs;
using test::PtyPair;
using test::SteadyClock;
using test::WaitFor;

// Opens the link on a device path; 1 or 0.
int OpenSerial(SerialLink& link, const std::string& path, uint32_t baud, uint8_t byte_size = 8,
               uint8_t stop_bits = 0, uint8_t parity = 0) {
  link.SetTarget(path, platform::SerialSettings{baud, byte_size, stop_bits, parity});
  return link.Open() ? 1 : 0;
}

// The line settings of the slave, read through the master.
termios SlaveSettings(const PtyPair& pty) {
  termios t{};
  EXPECT_EQ(tcgetattr(pty.master(), &t), 0);
  return t;
}

TEST(Serial, OpensRawAtTheRateAndMovesBytesBothWays) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  test::LinkRecorder rec;
  SerialLink comm(rec);
  rec.link = &comm;
  ASSERT_EQ(OpenSerial(comm, pty.slave_path().c_str(), 115200), 1);
  EXPECT_TRUE(comm.IsOpen());
  EXPECT_EQ(comm.DeviceName(), pty.slave_path());

  termios t = SlaveSettings(pty);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  // Board to host: more than one 1024-byte chunk, with bytes a cooked line
  // would change (CR, ^C, ^S).
  auto in = test::Pattern(3000);
  in[10] = '\r';
  in[11] = 0x03;
  in[12] = 0x13;
  ASSERT_TRUE(pty.Write(in));
  std::vector<uint8_t> got;
  ASSERT_TRUE(WaitFor([&] {
    test::Drain(comm, got);
    return got.size() >= in.size();
  }, 2000));
  EXPECT_EQ(got, in);
  EXPECT_EQ(comm.ReceivedBytes(), 3000u);
  EXPECT_GE(rec.calls.load(), 1);
  EXPECT_EQ(rec.calls_with_empty_ring.load(), 0);  // the callback comes after the bytes

  // Host to board: more than a pseudo-terminal buffers at once.
  auto out = test::Pattern(20000, 5);
  std::vector<uint8_t> echoed;
  std::thread reader([&] { echoed = pty.Read(out.size()); });
  EXPECT_EQ(comm.WriteWaiting(out.data(), static_cast<uint32_t>(out.size())), 20000);
  reader.join();
  EXPECT_EQ(echoed, out);

  comm.Close();
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(comm.WriteWaiting(out.data(), 1), 0);
}

TEST(Serial, RatesThePlatformCannotSetFail) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  test::LinkRecorder rec;
  SerialLink comm(rec);
  EXPECT_EQ(comm.SetRate(9600), 0);  // not open
  EXPECT_EQ(OpenSerial(comm, pty.slave_path().c_str(), 14400, 8, 0, 0), 0);
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(OpenSerial(comm, pty.slave_path().c_str(), 9600, 8, 0, 9), 0);  // no such parity

  // A pseudo-terminal keeps eight data bits and no parity whatever it is
  // asked; the stop bits it keeps.
  ASSERT_EQ(OpenSerial(comm, pty.slave_path().c_str(), 9600, 7, 2, 2), 1);
  termios t = SlaveSettings(pty);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);

  EXPECT_EQ(comm.SetRate(12345), 0);
  t = SlaveSettings(pty);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));  // the former rate stays
  EXPECT_EQ(comm.SetRate(921600), 1);
  t = SlaveSettings(pty);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B921600));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);  // only the rate changed

  // There is no port 0.
  EXPECT_EQ(OpenSerial(comm, platform::SerialDeviceName(0), 9600), 0);
}

TEST(Serial, RateChangePurgesUnreadInput) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  platform::SerialPort port;
  platform::SerialSettings s;
  s.baud = 38400;
  ASSERT_EQ(port.Open(pty.slave_path().c_str(), s), 0);
  ASSERT_TRUE(pty.Write({1, 2, 3, 4}));
  ASSERT_EQ(port.WaitReadable(1000), platform::SerialPort::Wait::kReadable);
  ASSERT_EQ(port.SetBaud(57600), 0);
  uint8_t buf[16];
  int err = 0;
  EXPECT_EQ(port.Read(buf, sizeof buf, &err), 0);  // nothing left, and no block
  EXPECT_EQ(err, 0);
  platform::SerialSettings back;
  ASSERT_EQ(port.GetSettings(&back), 0);
  EXPECT_EQ(back.baud, 57600u);
}

TEST(Serial, CloseWakesAStalledWriteAndTheWatcherAtOnce) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  test::LinkRecorder rec;
  SerialLink comm(rec);
  ASSERT_EQ(OpenSerial(comm, pty.slave_path().c_str(), 115200, 8, 0, 0), 1);
  // The master never reads: the write fills the pseudo-terminal and waits.
  std::vector<uint8_t> big(1 << 20, 0x55);
  std::atomic<int> written{-1};
  std::thread writer([&] { written = comm.WriteWaiting(big.data(), static_cast<uint32_t>(big.size())); });
  std::this_thread::sleep_for(test::Ms(100));
  auto start = SteadyClock::now();
  comm.Close();
  writer.join();
  EXPECT_LT(ElapsedMs(start), 300);
  EXPECT_GE(written.load(), 0);
  EXPECT_LT(written.load(), static_cast<int>(big.size()));
  EXPECT_FALSE(comm.IsOpen());
}

TEST(Serial, HangUpNeitherSpinsNorBlocksTheClose) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  test::LinkRecorder rec;
  SerialLink comm(rec);
  ASSERT_EQ(OpenSerial(comm, pty.slave_path().c_str(), 115200, 8, 0, 0), 1);
  pty.CloseMaster();  // the far end goes away
  timespec c0{}, c1{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
  std::this_thread::sleep_for(test::Ms(200));
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
  double cpu_ms = (c1.tv_sec - c0.tv_sec) * 1e3 + (c1.tv_nsec - c0.tv_nsec) / 1e6;
  EXPECT_LT(cpu_ms, 50.0);
  auto start = SteadyClock::now();
  comm.Close();
  EXPECT_LT(ElapsedMs(start), 100);
}

TEST(Serial, OpenCloseCyclesLeaveNoDescriptorOrThread) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  test::LinkRecorder rec;
  SerialLink comm(rec);
  const int fds = test::CountOpenFds();
  const int threads = test::CountThreads();
  auto start = SteadyClock::now();
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(OpenSerial(comm, pty.slave_path().c_str(), 115200), 1);
    // Opening again closes the open port first.
    ASSERT_EQ(OpenSerial(comm, pty.slave_path().c_str(), 57600), 1);
    comm.Close();
  }
  EXPECT_LT(ElapsedMs(start), 3000);  // no close waits for a timeout
  EXPECT_EQ(test::CountOpenFds(), fds);
  EXPECT_EQ(test::CountThreads(), threads);
}

TEST(Serial, FlushOnAClosedPortEmptiesTheTransmitRing) {
  test::LinkRecorder rec;
  SerialLink comm(rec);
  EXPECT_FALSE(comm.IsOpen());
  const uint8_t byte = 1;
  ASSERT_TRUE(comm.Write(&byte, 1));
  EXPECT_EQ(comm.Waiting(), 0u);
}

}  // namespace
}  // namespace voxa

namespace voxa {
namespace {

TEST(Serial, AFullReceiveRingHoldsBytesBackInsteadOfDroppingThem) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  test::LinkRecorder rec;
  SerialLink comm(rec);
  ASSERT_EQ(OpenSerial(comm, pty.slave_path().c_str(), 115200), 1);
  // Three rings' worth, written while nobody takes bytes out of the ring.
  const auto in = test::Pattern(3 * Link::kRingSize);
  std::thread writer([&] { EXPECT_TRUE(pty.Write(in)); });
  std::vector<uint8_t> got;
  ASSERT_TRUE(test::WaitFor([&] { return comm.Received().Room() == 0; }, 2000));
  ASSERT_TRUE(test::WaitFor([&] {
    test::Drain(comm, got);
    return got.size() >= in.size();
  }, 5000));
  writer.join();
  EXPECT_EQ(got, in);
  comm.Close();
}

}  // namespace
}  // namespace voxa
