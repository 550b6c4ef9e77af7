#include "link/gpib_binding.h"

#include <vector>

namespace kc {

namespace {
// What the count variables show after a failed registration.
constexpr std::uint32_t kUnregisteredCount = 0xDEAD37F0u;
}  // namespace

Integer GpibBinding::Narrow(std::int32_t cell) {
  // The low 16 bits, bit 15 read as the sign.
  return static_cast<Integer>(
      static_cast<std::uint16_t>(static_cast<std::uint32_t>(cell) & 0xFFFFu));
}

void GpibBinding::Register() {
  int result = driver_.RegisterGpibGlobalsForThread(&status_cell_, &error_cell_, &count_cell_,
                                                    &count_long_cell_);
  if (result == 0) {
    registered_ = 1;
    return;
  }
  if (result == 1) {
    // Cells of this thread were registered before: start afresh with ours.
    driver_.UnregisterGpibGlobalsForThread();
    driver_.RegisterGpibGlobalsForThread(&status_cell_, &error_cell_, &count_cell_,
                                         &count_long_cell_);
    registered_ = 1;
    return;
  }
  if (result == 2 || result == 3) driver_.UnregisterGpibGlobalsForThread();
  // The flag stays 0, so the next call tries again. Refresh() shows the
  // failure; see there.
  registered_ = 0;
}

void GpibBinding::Refresh() {
  if (registered_ == 0) {
    // The registration made before this call failed, so the driver wrote its
    // outcome to cells other than ours and ours hold stale values. Rather than
    // hand those out, the call reports a driver error: ERR with EDVR, and the
    // marker count. The wrapper still made its driver call.
    ibsta = static_cast<Integer>(gpib::ERR);
    iberr = static_cast<Integer>(gpib::EDVR);
    ibcntl = static_cast<Long>(kUnregisteredCount);
    ibcnt = Narrow(ibcntl);
    return;
  }
  ibsta = Narrow(status_cell_);
  iberr = Narrow(error_cell_);
  ibcntl = count_long_cell_;
  ibcnt = Narrow(ibcntl);
}

void GpibBinding::SendIFC(Integer board) {
  if (registered_ == 0) Register();
  driver_.SendIFC(board);
  Refresh();
}

void GpibBinding::ibsre(Integer board, Integer v) {
  if (registered_ == 0) Register();
  driver_.ibsre(board, v);
  Refresh();
}

void GpibBinding::FindLstn(Integer board, const Integer* pads, Integer* results, Integer limit) {
  if (registered_ == 0) Register();
  std::vector<Addr4882_t> list;
  for (const Integer* pad = pads;; ++pad) {
    auto address = static_cast<Addr4882_t>(*pad);
    list.push_back(address);
    if (address == gpib::NOADDR) break;
  }
  // The driver leaves the entries it does not fill as they were.
  std::size_t entries = limit > 0 ? static_cast<std::size_t>(limit) : 0;
  std::vector<Addr4882_t> found(entries);
  for (std::size_t i = 0; i < entries; ++i) found[i] = static_cast<Addr4882_t>(results[i]);
  driver_.FindLstn(board, list.data(), found.data(), limit);
  for (std::size_t i = 0; i < entries; ++i) results[i] = static_cast<Integer>(found[i]);
  Refresh();
}

Integer GpibBinding::ibdev(Integer board, Integer pad, Integer sad, Integer tmo, Integer eot,
                           Integer eos) {
  if (registered_ == 0) Register();
  int ud = driver_.ibdev(board, pad, sad, tmo, eot, eos);
  Refresh();
  return Narrow(ud);
}

void GpibBinding::ibpad(Integer ud, Integer pad) {
  if (registered_ == 0) Register();
  driver_.ibpad(ud, pad);
  Refresh();
}

void GpibBinding::ibclr(Integer ud) {
  if (registered_ == 0) Register();
  driver_.ibclr(ud);
  Refresh();
}

void GpibBinding::ibrsp(Integer ud, Integer& spr) {
  if (registered_ == 0) Register();
  char poll[2] = {' ', ' '};
  driver_.ibrsp(ud, poll);
  spr = static_cast<Integer>(static_cast<unsigned char>(poll[0]));
  Refresh();
}

void GpibBinding::ibwrt(Integer ud, const std::string& text) {
  if (registered_ == 0) Register();
  driver_.ibwrt(ud, text.data(), static_cast<long>(text.size()));
  Refresh();
}

void GpibBinding::ibrd(Integer ud, std::string& buffer) {
  if (registered_ == 0) Register();
  driver_.ibrd(ud, buffer.data(), static_cast<long>(buffer.size()));
  Refresh();
}

void GpibBinding::ibtmo(Integer ud, Integer v) {
  if (registered_ == 0) Register();
  driver_.ibtmo(ud, v);
  Refresh();
}

void GpibBinding::ibask(Integer ud, Integer option, Integer& value) {
  if (registered_ == 0) Register();
  int answer = value;
  driver_.ibask(ud, option, &answer);
  value = Narrow(answer);
  Refresh();
}

void GpibBinding::ibwait(Integer ud, Integer mask) {
  if (registered_ == 0) Register();
  driver_.ibwait(ud, mask);
  Refresh();
}

}  // namespace kc
