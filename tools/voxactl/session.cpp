#include "session.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <optional>

#include "platform/platform.h"
#include "platform/serial.h"
#include "voxa/voxa.h"

namespace voxactl {
namespace {

constexpr size_t kMaxCapturedFrames = 100000;

std::atomic<Session*> g_session{nullptr};

void VOXA_CALL TraceHandler(int /*board*/, int direction, const unsigned char* frame, int length) {
  if (Session* s = g_session.load()) s->OnTrace(direction, frame, length);
}

void VOXA_CALL LinkNewsHandler(int /*board*/, int state, int /*reason*/, int count) {
  if (Session* s = g_session.load()) s->OnLinkNews(state, count);
}

// "a.b.c.d" as the library takes it: network byte order, first octet in
// the lowest byte.
// Names, localhost included, are looked up by ResolveIpv4.
bool ParseIpv4(const std::string& text, uint32_t& address) {
  uint32_t a = 0;
  int octets = 0;
  size_t i = 0;
  while (octets < 4) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    uint32_t v = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4)
      v = v * 10 + static_cast<uint32_t>(text[i++] - '0'), ++digits;
    if (v > 255) return false;
    a |= v << (8 * octets++);
    if (octets < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  address = a;
  return true;
}

// A host name's first IPv4 address, in the same order as ParseIpv4's.
bool ResolveIpv4(const std::string& host, uint32_t& address, std::string& error) {
#ifdef _WIN32
  static const bool ready = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!ready) {
    error = "cannot look up '" + host + "': the system's sockets are not available";
    return false;
  }
#endif
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    error = "cannot find the IPv4 address of '" + host + "': " + (rc != 0 ? gai_strerror(rc) : "none found");
    return false;
  }
  // s_addr is in network byte order: its first octet is the lowest byte.
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(found);
  return true;
}

// The system's text as a phrase: "connection refused".
std::string Reason(int error) {
  char buf[256];
  std::string text = voxa::platform::SystemErrorText(error, buf, sizeof buf);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && (text.size() < 2 || text[1] < 'A' || text[1] > 'Z'))
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

// Why the last open failed, as the library tells it: the system's reason
// as a phrase ("connection refused") when the system refused, else the
// library's sentence (no answer, the board held by another host).
std::string OpenFailure(const std::string& path) {
  int os_error = 0;
  char text[256] = "";
  const int why = VOXA_Get_OpenError(&os_error, text, static_cast<int>(sizeof text));
  if (why == VOXA_OPEN_SYSTEM && os_error != 0) {
    if (os_error == EACCES && !path.empty())
      return "permission denied (is the user in the group that owns " + path + "?)";
    return Reason(os_error);
  }
  if (text[0] != '\0') return text;
  return why == VOXA_OPEN_NO_ANSWER ? "the board did not answer" : "the library gave no reason";
}

void PrintLibraryError(const char* function) {
  const int code = VOXA_Get_LastErr();
  std::fprintf(stderr, "voxactl: %s failed: error %d: %s\n", function, code, VOXA_Get_ErrText(code));
}

}  // namespace

bool ParseTcpAddress(const std::string& text, TcpAddress& out, std::string& error) {
  TcpAddress a;
  a.host = text;
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    a.host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    char* end = nullptr;
    const long n = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos || *end != '\0' || n < 1 ||
        n > 65535) {
      error = "bad TCP port '" + port + "' (1..65535)";
      return false;
    }
    a.port = static_cast<int>(n);
  }
  if (a.host.empty()) {
    error = "--tcp needs an address or a host name before the port";
    return false;
  }
  // Digits and dots are an address, never looked up (the resolver would
  // take "1.2.3" as 1.2.0.3).
  if (a.host.find_first_not_of("0123456789.") == std::string::npos) {
    if (!ParseIpv4(a.host, a.address)) {
      error = "'" + a.host + "' is not an IPv4 address";
      return false;
    }
  } else if (!ResolveIpv4(a.host, a.address, error)) {
    return false;
  }
  out = a;
  return true;
}

bool AddressFromEnvironment(std::string& tcp, std::string& serial, int& baud, std::string& error) {
  const char* env = std::getenv("VOXA_ADDRESS");
  const std::string where = env ? env : "";
  error.clear();
  if (where.rfind("tcp:", 0) == 0 && where.size() > 4) {
    tcp = where.substr(4);
    return true;
  }
  if (where.rfind("serial:", 0) == 0 && where.size() > 7) {
    std::string device = where.substr(7);
    const size_t at = device.rfind('@');
    if (at != std::string::npos) {
      const std::string rate = device.substr(at + 1);
      char* end = nullptr;
      const long n = std::strtol(rate.c_str(), &end, 10);
      if (rate.empty() || *end != '\0' || n <= 0 || n > 10000000) {
        error = "VOXA_ADDRESS: bad baud rate in '" + where + "'";
        return false;
      }
      baud = static_cast<int>(n);
      device.resize(at);
    }
    serial = device;
    return true;
  }
  if (!where.empty()) error = "VOXA_ADDRESS is '" + where + "': it takes tcp:ADDR[:PORT] or serial:DEV[@BAUD]";
  return false;
}

Session::Session() {
  g_session.store(this);
  VOXA_Set_TraceHandler(&TraceHandler);
  VOXA_Set_LinkHandler(&LinkNewsHandler);
}

Session::~Session() {
  Close();
  VOXA_Set_LinkHandler(nullptr);
  VOXA_Set_TraceHandler(nullptr);
  g_session.store(nullptr);
}

bool Session::Opened(int id, const char* function, std::string description) {
  if (id < 0) {
    PrintLibraryError(function);
    return false;
  }
  std::lock_guard<std::mutex> g(mu_);
  open_ = true;
  description_ = std::to_string(id) + " (" + description + ")";
  return true;
}

bool Session::OpenTcp(const TcpAddress& a) {
  const std::string where = a.host + ":" + std::to_string(a.port);
  if (Opened(VOXA_Open_Tcp(a.address, a.port, 0), "VOXA_Open_Tcp", "tcp " + where)) return true;
  std::fprintf(stderr, "voxactl: cannot open tcp %s: %s\n", where.c_str(), OpenFailure("").c_str());
  return false;
}

bool Session::OpenSerial(const std::string& device, int baud) {
  const bool number = !device.empty() && device.find_first_not_of("0123456789") == std::string::npos;
  const std::string path =
      number ? voxa::platform::SerialDeviceName(static_cast<uint16_t>(std::atoi(device.c_str()))) : device;
  const bool ok = number ? Opened(VOXA_Open_Comm(std::atoi(device.c_str()), baud), "VOXA_Open_Comm",
                                  "serial port " + device + " at " + std::to_string(baud) + " baud")
                         : Opened(VOXA_Open_CommDevice(device.c_str(), baud), "VOXA_Open_CommDevice",
                                  "serial " + device + " at " + std::to_string(baud) + " baud");
  if (!ok) std::fprintf(stderr, "voxactl: cannot open %s: %s\n", path.c_str(), OpenFailure(path).c_str());
  return ok;
}

void Session::Close() {
  bool was_open;
  {
    std::lock_guard<std::mutex> g(mu_);
    was_open = open_;
    open_ = false;
  }
  // The library's threads are joined here: no trace call comes after it.
  if (was_open) VOXA_Close();
}

void Session::OnTrace(int direction, const uint8_t* frame, int length) {
  if (frame == nullptr || length <= 0) return;
  {
    std::lock_guard<std::mutex> g(mu_);
    if (direction == kReceived) {
      ++rx_seq_;
      last_rx_ = Clock::now();
      if (length >= 4 && (frame[3] & 0x7F) == 9) {
        heartbeat_seen_ = true;
        last_heartbeat_ = Clock::now();
      }
    } else if (IsConfigWrite(frame, length)) {
      ++config_writes_;
    }
    if (capture_ && !(skip_polls_ && IsPollTraffic(direction, frame, length))) {
      if (frames_.size() < kMaxCapturedFrames)
        frames_.push_back(TracedFrame{Clock::now(), direction, std::vector<uint8_t>(frame, frame + length)});
      else
        ++dropped_;
    }
  }
  cv_.notify_all();
}

uint64_t Session::ReceivedFrames() {
  std::lock_guard<std::mutex> g(mu_);
  return rx_seq_;
}

void Session::OnLinkNews(int state, int count) {
  std::string text;
  if (state == VOXA_LINK_RESTARTED) text = "the board restarted: it has its power-on settings, not this host's";
  else if (state == VOXA_LINK_RESTORED) text = "the board restarted; the host's settings were written back";
  else if (state == VOXA_LINK_IN_DOUBT)
    text = std::to_string(count) + " queued frames were on their way when the link was lost (not sent again)";
  else if (state == VOXA_LINK_RECONNECTED) text = "the link was re-established";
  if (text.empty()) return;
  std::lock_guard<std::mutex> g(mu_);
  news_ = text;
}

std::string Session::LinkNews() {
  std::lock_guard<std::mutex> g(mu_);
  return news_;
}

bool Session::HeartbeatWithin(Ms within) {
  std::lock_guard<std::mutex> g(mu_);
  return heartbeat_seen_ && Clock::now() - last_heartbeat_ <= within;
}

bool Session::WaitHeartbeat(Ms timeout) {
  std::unique_lock<std::mutex> g(mu_);
  cv_.wait_for(g, timeout, [&] { return heartbeat_seen_ || interrupted_; });
  return heartbeat_seen_;
}

bool Session::ReceivedWithin(Ms within) {
  std::lock_guard<std::mutex> g(mu_);
  return rx_seq_ > 0 && Clock::now() - last_rx_ <= within;
}

uint64_t Session::ConfigWrites() {
  std::lock_guard<std::mutex> g(mu_);
  return config_writes_;
}

uint64_t Session::WaitConfigWrites(uint64_t seen, const std::atomic<bool>& done, Clock::time_point deadline) {
  std::unique_lock<std::mutex> g(mu_);
  cv_.wait_until(g, deadline, [&] { return config_writes_ != seen || done.load() || interrupted_; });
  return config_writes_;
}

void Session::WakeAll() {
  { std::lock_guard<std::mutex> g(mu_); }
  cv_.notify_all();
}

void Session::StartCapture(bool skip_polls) {
  std::lock_guard<std::mutex> g(mu_);
  capture_ = true;
  skip_polls_ = skip_polls;
}

uint64_t Session::TakeFrames(std::deque<TracedFrame>& out, Clock::time_point deadline) {
  std::unique_lock<std::mutex> g(mu_);
  cv_.wait_until(g, deadline, [&] { return !frames_.empty() || interrupted_; });
  out.swap(frames_);
  frames_.clear();
  const uint64_t dropped = dropped_;
  dropped_ = 0;
  return dropped;
}

void Session::Interrupt() {
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> g(mu_);
    interrupted_ = true;
    action = on_interrupt_;
  }
  cv_.notify_all();
  if (action) action();
}

bool Session::Interrupted() {
  std::lock_guard<std::mutex> g(mu_);
  return interrupted_;
}

void Session::SetInterruptAction(std::function<void()> action) {
  std::lock_guard<std::mutex> g(mu_);
  on_interrupt_ = std::move(action);
}

bool Session::Pause(Clock::time_point deadline, const std::atomic<bool>* stop) {
  std::unique_lock<std::mutex> g(mu_);
  cv_.wait_until(g, deadline, [&] { return interrupted_ || (stop && stop->load()); });
  return !interrupted_;
}

// ---------------------------------------------------------------- signals

SignalWatch::SignalWatch(Session& session)
    : session_(session), watch_([this] {
        // One Ctrl-C may arrive twice (sent to the process and to its
        // group): only a second one a while after the first ends the
        // program at once.
        if (first_ && Clock::now() - *first_ >= Ms(1000)) std::_Exit(130);
        if (!first_) first_ = Clock::now();
        session_.Interrupt();
      }) {}

}  // namespace voxactl
