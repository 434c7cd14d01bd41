// The panel's front door: it accepts the connections and reads each
// request's head itself, on one thread for all of them, within a size and a
// time limit, before a worker of the HTTP server ever sees the request.
// Clients that send their head slowly, or without end, thus cost a buffer
// each and never a worker; stops have workers of their own.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace voxactl::panel {

// The HTTP server, fed requests whose head the gate has read.
class HttpServer : public httplib::Server {
 public:
  // Serves one request from `stream` (the connection closes after it).
  void ServeOne(httplib::Stream& stream, const std::string& ip, int port);
  // The server's streams run while it holds a listening socket.
  void Listening(int fd) { svr_sock_ = fd; }
};

struct GateLimits {
  size_t max_head = 32 * 1024;               // request line and headers, bytes
  std::chrono::milliseconds head_time{2000};  // from the connection to the head's end
  size_t max_waiting = 1024;                 // connections whose head is not complete yet
  size_t max_body = 1u << 20;                // Content-Length
  size_t workers = 48;                       // requests and live streams at once
  size_t stop_workers = 2;                   // stops, apart from everything else
};

class Gate {
 public:
  Gate(HttpServer& server, GateLimits limits);
  ~Gate();
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;

  // Listens on host (a numeric IPv4 or IPv6 address, "localhost") and port
  // (0: any free one). The port, or 0 with the reason in `error`.
  int Bind(const std::string& host, int port, std::string& error);
  // Serves until Stop; then waits for the requests being served.
  void Run();
  void Stop();

 private:
  struct Waiting {
    int fd;
    std::string head;
    std::chrono::steady_clock::time_point deadline;
    std::string ip;
    int port;
  };
  struct Task {
    int fd;
    std::string head;
    std::string ip;
    int port;
  };
  class Pool {
   public:
    Pool(Gate& gate, size_t threads, const char* name);
    ~Pool();
    void Add(Task t);
    void Shutdown();

   private:
    void Work();
    Gate& gate_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Task> tasks_;
    bool quit_ = false;
    std::vector<std::thread> threads_;
  };

  void Accept();
  void Close(Waiting& w);
  // The head is complete, too long, or broken: hands it on or answers.
  void Dispatch(Waiting& w);
  void Serve(Task& t);

  HttpServer& server_;
  GateLimits limits_;
  int listen_fd_ = -1;
  std::chrono::steady_clock::time_point accept_after_{};  // accepting rests until then
  int wake_[2] = {-1, -1};
  std::vector<Waiting> waiting_;
  std::unique_ptr<Pool> requests_;
  std::unique_ptr<Pool> stops_;
};

}  // namespace voxactl::panel
