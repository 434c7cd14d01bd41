#include "gate.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace voxactl::panel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kIoTimeoutMs = 5000;  // a worker's wait for the body or for room to write

// A connection whose head the gate has read: the head first, then the socket.
class HeadStream : public httplib::Stream {
 public:
  HeadStream(int fd, std::string head, std::string ip, int port)
      : fd_(fd), head_(std::move(head)), ip_(std::move(ip)), port_(port) {}
  bool is_readable() const override { return pos_ < head_.size() || Wait(POLLIN); }
  bool is_writable() const override { return Wait(POLLOUT); }
  ssize_t read(char* ptr, size_t size) override {
    if (pos_ < head_.size()) {
      const size_t n = std::min(size, head_.size() - pos_);
      std::memcpy(ptr, head_.data() + pos_, n);
      pos_ += n;
      return static_cast<ssize_t>(n);
    }
    for (;;) {
      const ssize_t n = ::recv(fd_, ptr, size, 0);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLIN)) return -1;
    }
  }
  ssize_t write(const char* ptr, size_t size) override {
    for (;;) {
      const ssize_t n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLOUT)) return -1;
    }
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = ip_;
    port = port_;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    ip.clear();
    port = 0;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) == 0) Address(a, ip, port);
  }
  socket_t socket() const override { return fd_; }

  static void Address(const sockaddr_storage& a, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET) {
      const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
      inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
      port = ntohs(v4.sin_port);
    } else if (a.ss_family == AF_INET6) {
      const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
      inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
      port = ntohs(v6.sin6_port);
    }
    ip = text;
  }

 private:
  bool Wait(short events) const {
    pollfd p{fd_, events, 0};
    for (;;) {
      const int r = ::poll(&p, 1, kIoTimeoutMs);
      if (r < 0 && errno == EINTR) continue;
      return r > 0 && (p.revents & (events | POLLHUP | POLLERR));
    }
  }

  int fd_;
  std::string head_;
  size_t pos_ = 0;
  std::string ip_;
  int port_;
};

// Where the head ends (just past the empty line), or npos.
size_t HeadEnd(const std::string& head) {
  const size_t crlf = head.find("\r\n\r\n");
  if (crlf != std::string::npos) return crlf + 4;
  const size_t lf = head.find("\n\n");
  return lf == std::string::npos ? lf : lf + 2;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A short answer written by the gate itself; the connection then closes.
void Refuse(int fd, const char* status) {
  std::string text = std::string("HTTP/1.1 ") + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                     std::to_string(std::strlen(status) + 1) + "\r\nConnection: close\r\n\r\n" + status + "\n";
  (void)!::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

void HttpServer::ServeOne(httplib::Stream& stream, const std::string& ip, int port) {
  bool closed = false;
  process_request(stream, true, closed, [&](httplib::Request& req) {
    req.remote_addr = ip;
    req.remote_port = port;
  });
}

Gate::Pool::Pool(Gate& gate, size_t threads, const char* name) : gate_(gate) {
  for (size_t i = 0; i < threads; ++i)
    threads_.emplace_back([this, name] {
      pthread_setname_np(pthread_self(), name);
      Work();
    });
}

Gate::Pool::~Pool() { Shutdown(); }

void Gate::Pool::Add(Task t) {
  {
    std::lock_guard<std::mutex> g(mu_);
    tasks_.push_back(std::move(t));
  }
  cv_.notify_one();
}

void Gate::Pool::Shutdown() {
  {
    std::lock_guard<std::mutex> g(mu_);
    if (quit_ && threads_.empty()) return;
    quit_ = true;
  }
  cv_.notify_all();
  for (auto& t : threads_) t.join();
  threads_.clear();
  for (Task& t : tasks_) ::close(t.fd);
  tasks_.clear();
}

void Gate::Pool::Work() {
  std::unique_lock<std::mutex> g(mu_);
  for (;;) {
    cv_.wait(g, [&] { return quit_ || !tasks_.empty(); });
    if (quit_) return;
    Task t = std::move(tasks_.front());
    tasks_.pop_front();
    g.unlock();
    gate_.Serve(t);
    g.lock();
  }
}

Gate::Gate(HttpServer& server, GateLimits limits) : server_(server), limits_(limits) {
  // Room for the waiting heads besides the workers' connections.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 4096 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = std::min<rlim_t>(4096, files.rlim_max);
    setrlimit(RLIMIT_NOFILE, &files);
  }
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

Gate::~Gate() {
  requests_.reset();
  stops_.reset();
  for (Waiting& w : waiting_) ::close(w.fd);
  if (listen_fd_ >= 0) ::close(listen_fd_);
  for (int fd : wake_)
    if (fd >= 0) ::close(fd);
}

int Gate::Bind(const std::string& host, int port, std::string& error) {
  addrinfo hints{}, *found = nullptr;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
  const std::string name = host == "localhost" ? "127.0.0.1" : host;
  const int rc = getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0 || !found) {
    error = std::string("not an address: ") + gai_strerror(rc);
    return 0;
  }
  int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int one = 1, zero = 0;
  bool ok = fd >= 0;
  if (ok) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // [::] takes IPv4 connections too.
  if (ok && found->ai_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
  ok = ok && ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 256) == 0;
  freeaddrinfo(found);
  sockaddr_storage a{};
  socklen_t n = sizeof a;
  std::string ip;
  int bound = 0;
  if (ok && getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0) HeadStream::Address(a, ip, bound);
  if (!ok || bound <= 0) {
    error = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return 0;
  }
  listen_fd_ = fd;
  return bound;
}

void Gate::Close(Waiting& w) {
  ::close(w.fd);
  w.fd = -1;
}

void Gate::Accept() {
  for (;;) {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&a), &n, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE) {
        // Out of descriptors: the oldest waiter makes room, or accepting
        // rests a moment (the pending connection would wake poll at once).
        if (!waiting_.empty()) {
          ::close(waiting_.front().fd);
          waiting_.erase(waiting_.begin());
          continue;
        }
        accept_after_ = Clock::now() + std::chrono::milliseconds(100);
      }
      return;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // Too many heads outstanding: the oldest waiter goes.
    if (waiting_.size() >= limits_.max_waiting) {
      ::close(waiting_.front().fd);
      waiting_.erase(waiting_.begin());
    }
    Waiting w{fd, {}, Clock::now() + limits_.head_time, {}, 0};
    HeadStream::Address(a, w.ip, w.port);
    waiting_.push_back(std::move(w));
  }
}

void Gate::Dispatch(Waiting& w) {
  const size_t end = HeadEnd(w.head);
  const std::string head = Lower(w.head.substr(0, end));
  // Content-Length is looked at before anyone reads the body.
  size_t at = head.find("\ncontent-length:");
  if (at != std::string::npos) {
    const unsigned long long length = std::strtoull(head.c_str() + at + 16, nullptr, 10);
    if (length > limits_.max_body) {
      Refuse(w.fd, "413 Payload Too Large");
      Close(w);
      return;
    }
  }
  // Stops have workers of their own.
  bool stop = false;
  for (const char* path : {"post /api/stop", "post /api/estop", "post /api/jogstop"}) {
    const size_t n = std::strlen(path);
    stop = stop || (head.compare(0, n, path) == 0 && head.size() > n && (head[n] == ' ' || head[n] == '?'));
  }
  Task t{w.fd, std::move(w.head), std::move(w.ip), w.port};
  w.fd = -1;
  (stop ? stops_ : requests_)->Add(std::move(t));
}

void Gate::Serve(Task& t) {
  HeadStream stream(t.fd, std::move(t.head), t.ip, t.port);
  server_.ServeOne(stream, t.ip, t.port);
  ::shutdown(t.fd, SHUT_WR);
  ::close(t.fd);
}

void Gate::Run() {
  requests_ = std::make_unique<Pool>(*this, limits_.workers, "panel-http");
  stops_ = std::make_unique<Pool>(*this, limits_.stop_workers, "panel-stop");
  server_.Listening(listen_fd_);
  std::vector<pollfd> fds;
  char buf[4096];
  for (;;) {
    const auto now = Clock::now();
    // Heads not complete in time: the connection goes, unanswered.
    for (Waiting& w : waiting_)
      if (w.deadline <= now) Close(w);
    waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(), [](const Waiting& w) { return w.fd < 0; }),
                   waiting_.end());
    auto next = now + std::chrono::hours(1);
    for (const Waiting& w : waiting_) next = std::min(next, w.deadline);
    const bool accepting = now >= accept_after_;
    if (!accepting) next = std::min(next, accept_after_);
    fds.clear();
    fds.push_back({wake_[0], POLLIN, 0});
    fds.push_back({listen_fd_, static_cast<short>(accepting ? POLLIN : 0), 0});
    for (const Waiting& w : waiting_) fds.push_back({w.fd, POLLIN, 0});
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
    const int r = ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(wait, 60000)));
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    if (fds[0].revents) break;
    // The waiters first (accepting may drop the oldest).
    for (size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      Waiting& w = waiting_[i - 2];
      const ssize_t n = ::recv(w.fd, buf, sizeof buf, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        Close(w);
        continue;
      }
      if (n < 0) continue;
      w.head.append(buf, static_cast<size_t>(n));
      const size_t end = HeadEnd(w.head);
      if (end == std::string::npos ? w.head.size() > limits_.max_head : end > limits_.max_head) {
        Refuse(w.fd, "431 Request Header Fields Too Large");
        Close(w);
      } else if (end != std::string::npos) {
        Dispatch(w);
      }
    }
    waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(), [](const Waiting& w) { return w.fd < 0; }),
                   waiting_.end());
    if (fds[1].revents) Accept();
  }
  for (Waiting& w : waiting_) ::close(w.fd);
  waiting_.clear();
  server_.Listening(INVALID_SOCKET);
  ::close(listen_fd_);
  listen_fd_ = -1;
  requests_->Shutdown();
  stops_->Shutdown();
}

void Gate::Stop() {
  const char c = 1;
  (void)!::write(wake_[1], &c, 1);
}

}  // namespace voxactl::panel
