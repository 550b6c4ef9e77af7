// Name look-up for the network back ends (adapters, gateways), with a deadline.
#pragma once

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

}  // namespace kc
