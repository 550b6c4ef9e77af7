// The device descriptors a back end hands out: ibdev numbers them from 1 and
// keeps each one's addresses, time-out and EOI choice; ibpad, ibtmo and ibask
// change and read them. The simulated bus and the adapter back end share it.
#pragma once

#include <deque>

#include "link/gpib_driver.h"

namespace kc {

struct DeviceDescriptor {
  int pad = 0;
  int sad = 0;  // 0 or 0x60..0x7E
  int tmo = gpib::T1s;
  bool eoi = true;
};

class DescriptorDriver : public GpibDriverBase {
 public:
  int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
  int ibpad(int ud, int pad) override;
  int ibtmo(int ud, int v) override;
  int ibask(int ud, int option, int* value) override;

 protected:
  using Descriptor = DeviceDescriptor;
  // The descriptor `ud`; nullptr for a number never handed out.
  Descriptor* Find(int ud);
  // Called first in each of the calls above (the simulated bus counts them).
  virtual void EnterDescriptorCall() {}

 private:
  std::deque<Descriptor> descriptors_;
};

}  // namespace kc
