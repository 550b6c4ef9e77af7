// The binding over the GPIB driver: one wrapper per driver call, each making
// sure the status cells are registered, calling the driver and refreshing the
// 16-bit status variables. One object per program; tests make their own.
#pragma once

#include <cstdint>
#include <string>

#include "link/gpib_driver.h"
#include "platform/types.h"

namespace kc {

class GpibBinding {
 public:
  explicit GpibBinding(GpibDriver& driver) : driver_(driver) {}

  // Status variables, refreshed after every wrapper call.
  Integer ibsta = 0;
  Integer iberr = 0;
  Integer ibcnt = 0;
  Long ibcntl = 0;

  void SendIFC(Integer board);
  void ibsre(Integer board, Integer v);
  // `pads` ends with NOADDR; results are written from entry 0 on.
  void FindLstn(Integer board, const Integer* pads, Integer* results, Integer limit);
  Integer ibdev(Integer board, Integer pad, Integer sad, Integer tmo, Integer eot, Integer eos);
  void ibpad(Integer ud, Integer pad);
  void ibclr(Integer ud);
  // The device's serial-poll byte, 0 to 255.
  void ibrsp(Integer ud, Integer& spr);
  void ibwrt(Integer ud, const std::string& text);
  // Reads into `buffer` (its length is the count); bytes land from the start,
  // the rest of the buffer keeps its contents.
  void ibrd(Integer ud, std::string& buffer);
  void ibtmo(Integer ud, Integer v);
  void ibask(Integer ud, Integer option, Integer& value);
  void ibwait(Integer ud, Integer mask);

  bool registered() const { return registered_ != 0; }

  // Narrows a 32-bit driver cell to a 16-bit variable: bit 15 is the sign.
  static Integer Narrow(std::int32_t cell);

 private:
  void Register();
  void Refresh();

  GpibDriver& driver_;
  int registered_ = 0;
  std::int32_t status_cell_ = 0;
  std::int32_t error_cell_ = 0;
  std::int32_t count_cell_ = 0;
  std::int32_t count_long_cell_ = 0;
};

}  // namespace kc
