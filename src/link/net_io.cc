#include "link/net_io.h"

#include <asio/error.hpp>
#include <asio/io_context.hpp>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace kc {

using asio::ip::tcp;

std::error_code ResolveTcp(const std::string& host, int port,
                           std::chrono::steady_clock::time_point deadline,
                           std::vector<tcp::endpoint>* endpoints) {
  std::error_code error;
  asio::ip::address address = asio::ip::make_address(host, error);
  if (!error) {
    endpoints->emplace_back(address, static_cast<unsigned short>(port));
    return {};
  }
  struct Lookup {
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    std::error_code error;
    std::vector<tcp::endpoint> endpoints;
  };
  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, host, port] {
    asio::io_context io;
    tcp::resolver resolver(io);
    std::error_code resolve_error;
    auto results = resolver.resolve(host, std::to_string(port), resolve_error);
    std::lock_guard<std::mutex> lock(lookup->mutex);
    lookup->error = resolve_error;
    for (const auto& entry : results) lookup->endpoints.push_back(entry.endpoint());
    lookup->done = true;
    lookup->done_cv.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(lookup->mutex);
  if (!lookup->done_cv.wait_until(lock, deadline, [&] { return lookup->done; }))
    return std::make_error_code(std::errc::timed_out);
  if (lookup->error) return lookup->error;
  if (lookup->endpoints.empty()) return asio::error::host_not_found;
  *endpoints = lookup->endpoints;
  return {};
}

}  // namespace kc
