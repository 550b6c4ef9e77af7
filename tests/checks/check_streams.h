// What the check tests share: command streams as lists of messages, the bench
// loaded as the main menu leaves it, and the progress bar as the instrument
// receives it.
#pragma once

#include <string>
#include <vector>

#include "support/checkout_bench.h"

namespace kc {

using Stream = std::vector<std::string>;

inline void Append(Stream& stream, const Stream& more) {
  stream.insert(stream.end(), more.begin(), more.end());
}

// Loads the program and prepares the instrument as the main menu does before
// any check runs: from then on replies come without headers.
inline bool LoadForChecks(CheckoutBench& bench) {
  if (!bench.Load()) return false;
  bench.ops().WriteDev(bench.form().dev, "INIT GPI;PATH OFF;USE;BELL");
  return true;
}

// The `steps` steps of the "PLEASE WAIT " bar on line 16, `indent` blanks in:
// step i shows i - 1 glyphs, then blanks up to the closing glyph in column
// `steps`.
inline Stream PleaseWaitBar(int steps, int indent) {
  const std::string head =
      "MESS 16:\"" + std::string(static_cast<std::size_t>(indent), ' ') + "PLEASE WAIT ";
  Stream bar;
  for (int i = 1; i <= steps; ++i) {
    std::string glyphs;
    for (int j = 1; j < i; ++j) glyphs += "\\M";
    bar.push_back(head + glyphs + std::string(static_cast<std::size_t>(steps - i), ' ') + "\\M\"");
  }
  return bar;
}

// The messages of `stream` up to and including its `waits`-th event query.
inline Stream UpToWait(const Stream& stream, int waits) {
  Stream head;
  for (const std::string& message : stream) {
    head.push_back(message);
    if (message == "EVE?" && --waits == 0) break;
  }
  return head;
}

}  // namespace kc
