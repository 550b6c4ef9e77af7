// A fake GPIB adapter served on a loopback TCP port: it speaks the
// Prologix/AR488 protocol as those adapters do (escapes, "++" commands, the
// end character after EOI, their error lines) and has fake instruments
// behind it. Every byte the host sends is recorded, so tests can compare the
// whole command stream with one written by hand.
//
// The instruments answer "ID?" with their identity and "LONG?" with 700
// characters; "TRICKLE?" makes one send a byte every 30 ms without ever
// ending; anything else is only recorded.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kc::testing {

class FakeAdapter {
 public:
  enum class Kind { kAr488, kAr488Esp32, kPrologix };

  explicit FakeAdapter(Kind kind);
  ~FakeAdapter();
  FakeAdapter(const FakeAdapter&) = delete;
  FakeAdapter& operator=(const FakeAdapter&) = delete;

  int port() const { return port_; }

  // An instrument at `pad` that answers "ID?" with `id` and serial polls with
  // `status_byte` (a silent one does not answer polls).
  void AddInstrument(int pad, const std::string& id, int status_byte = 0, bool silent = false);
  // "++srq" answers 1 from the n-th poll on (0: never).
  void RaiseSrqOnPoll(int n);
  // Sends `text` just before the answer to the command line `command`.
  void InjectBefore(const std::string& command, const std::string& text);
  // Closes the connection when the command line `command` arrives; with
  // `refuse_after`, no connection is taken any more.
  void DropOn(const std::string& command, bool refuse_after);
  // From the command line `command` on, nothing is answered.
  void SilentFrom(const std::string& command);

  // All bytes the host sent, over every connection.
  std::string Received();
  // Waits until at least `size` bytes came (a generous deadline: it returns
  // as soon as they are there), then gives them all.
  std::string WaitReceived(std::size_t size);
  // The messages an instrument received, unescaped.
  std::vector<std::string> Messages(int pad);
  int srq_polls();
  int connections();

 private:
  struct Instrument {
    std::string id;
    int status_byte = 0;
    bool silent = false;
    std::string reply;  // what it has to say when addressed to talk
    bool trickle = false;
    std::vector<std::string> messages;
  };
  // What the adapter does after a line: wait, then send.
  struct Step {
    int wait_ms = 0;
    std::string bytes;
    bool trickle = false;
  };

  void Serve();
  void ServeConnection(int fd);
  std::vector<Step> Handle(const std::string& line, bool command, bool& drop);
  std::vector<Step> Command(const std::string& command);
  void Data(const std::string& data);
  bool Sleep(int ms);

  Kind kind_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;  // bytes received, or the adapter stops
  std::string version_;
  std::map<int, Instrument> instruments_;
  std::map<std::string, std::string> inject_;
  std::string drop_on_;
  bool refuse_after_drop_ = false;
  bool refusing_ = false;
  std::string silent_from_;
  bool silent_ = false;
  std::string received_;
  int srq_on_poll_ = 0;
  int srq_polls_ = 0;
  int connections_ = 0;
  // Adapter settings.
  int addr_ = 0;
  int read_tmo_ms_ = 1200;
  bool eot_enable_ = false;
  int eot_char_ = 0;
  std::thread thread_;
};

}  // namespace kc::testing
