// Network I/O for the back ends (adapters, gateways): name look-up and
// asynchronous operations, each with a deadline.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <chrono>
#include <string>
#include <system_error>
#include <vector>

namespace kc {

// The endpoints of `host` (a name or an address) at `port`. Look-up cannot be
// cancelled, so it runs on a thread of its own that is left behind when the
// deadline passes first (then: timed_out).
std::error_code ResolveTcp(const std::string& host, int port,
                           std::chrono::steady_clock::time_point deadline,
                           std::vector<asio::ip::tcp::endpoint>* endpoints);

// Runs an operation started by `start(handler)` (the handler takes an error
// and a byte count) on `io` until it completes or `deadline` passes; then
// `cancel()` stops it and its handler runs. Stores the operation's error and
// byte count; true when it completed before the deadline.
template <typename Start, typename Cancel>
bool RunUntil(asio::io_context& io, std::chrono::steady_clock::time_point deadline, Start start,
              Cancel cancel, std::error_code* result, std::size_t* count) {
  bool done = false;
  start([&done, result, count](const std::error_code& error, std::size_t n) {
    done = true;
    *result = error;
    *count = n;
  });
  io.restart();
  if (std::chrono::steady_clock::now() < deadline) io.run_until(deadline);
  if (!done) {
    io.restart();
    io.poll();
  }
  if (done) return true;
  cancel();
  io.restart();
  io.run();  // runs the cancelled operation's handler, then runs out of work
  return false;
}

}  // namespace kc
