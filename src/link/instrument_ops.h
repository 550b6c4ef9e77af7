// The only road from the checkout to the instrument: discovery, opening the
// instrument by its identity, writing, querying, reading, waiting with the
// window alive, and the GPIB error boxes.
#pragma once

#include <array>
#include <string>

#include "link/gpib_binding.h"
#include "platform/platform.h"
#include "platform/types.h"

namespace kc {

class InstrumentOps {
 public:
  InstrumentOps(GpibBinding& gpib, Platform& platform) : gpib_(gpib), platform_(platform) {}

  void WriteDev(Integer& dev, const std::string& command);
  std::string QueryDev(Integer& dev, const std::string& command);
  std::string ReadDev(Integer& dev);
  // Waits `seconds` on the platform clock with window events pumped; correct
  // across midnight.
  void Delay(Single seconds);
  void CheckGpibError();
  void FindListeners(Integer mode);
  // Markers: IdQuery "!x" no clear, "x!" go on; Expected "!x" silent, "?x"
  // settle, "x!" exact. The markers are removed from the caller's texts.
  Integer FindDevice(std::string& id_query, std::string& expected);
  Integer DeviceAddress(Integer& dev);
  [[noreturn]] void DeviceNotConfigured();

  // Module state, zero at program start.
  std::array<Integer, 15> Listeners{};
  std::array<Integer, 15> FreeListeners{};
  std::array<Integer, 15> ListenerDevice{};
  std::array<Integer, 2> SpareDevice{};
  Integer DefaultTimeout = 0;
  Integer GpibErrorFlag = 0;

  GpibBinding& gpib() { return gpib_; }
  Platform& platform() { return platform_; }

  // The GPIB error text for an iberr value.
  static std::string GpibErrorText(int iberr);

 private:
  GpibBinding& gpib_;
  Platform& platform_;
};

}  // namespace kc
