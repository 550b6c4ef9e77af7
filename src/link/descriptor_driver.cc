#include "link/descriptor_driver.h"

namespace kc {

namespace {

constexpr int kMaxAddress = 30;
constexpr int kLowestSecondary = 0x60;
constexpr int kHighestSecondary = 0x7E;
constexpr int kLongestTimeout = 17;  // T1000s

}  // namespace

DescriptorDriver::Descriptor* DescriptorDriver::Find(int ud) {
  if (ud < 1 || ud > static_cast<int>(descriptors_.size())) return nullptr;
  return &descriptors_[static_cast<std::size_t>(ud - 1)];
}

int DescriptorDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
  (void)eos;  // replies are read to EOI; nothing is added to data sent
  EnterDescriptorCall();
  if (board != 0) {
    Fail(gpib::ENEB);
    return -1;
  }
  if (pad < 0 || pad > kMaxAddress ||
      (sad != 0 && (sad < kLowestSecondary || sad > kHighestSecondary)) || tmo < 0 ||
      tmo > kLongestTimeout) {
    Fail(gpib::EARG);
    return -1;
  }
  descriptors_.push_back(Descriptor{pad, sad, tmo, eot != 0});
  Report(gpib::CMPL, 0, 0);
  return static_cast<int>(descriptors_.size());
}

int DescriptorDriver::ibpad(int ud, int pad) {
  EnterDescriptorCall();
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (pad < 0 || pad > kMaxAddress) return Fail(gpib::EARG);
  descriptor->pad = pad;
  return Report(gpib::CMPL, 0, 0);
}

int DescriptorDriver::ibtmo(int ud, int v) {
  EnterDescriptorCall();
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (v < 0 || v > kLongestTimeout) return Fail(gpib::EARG);
  descriptor->tmo = v;
  return Report(gpib::CMPL, 0, 0);
}

int DescriptorDriver::ibask(int ud, int option, int* value) {
  EnterDescriptorCall();
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (option != gpib::IbaTMO || value == nullptr) return Fail(gpib::EARG);
  *value = descriptor->tmo;
  return Report(gpib::CMPL, 0, 0);
}

}  // namespace kc
