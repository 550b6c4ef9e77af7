// A driver that hands every call to another one and writes one line per call
// to a stream: the time of the call (seconds since midnight on the platform
// clock, three decimals), the call with its arguments, the outcome (status in
// hex, error, count) and the data written or read:
//
//   32400.100 ibwrt(1, 3) -> ibsta 0x0100 iberr 0 ibcnt 3 data "ID?"
//   32400.201 ibrd(1, 512) -> ibsta 0x2100 iberr 0 ibcnt 17 data "ID:TEK/2440,V81.1\n"
//
// Data appear verbatim inside the quotes except control characters and bytes
// above 0x7E, written as \n, \r or \xNN; the closing quote is the last
// character of the line.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "link/gpib_driver.h"
#include "platform/clock.h"

namespace kc {

class TracingDriver : public GpibDriverBase {
 public:
  TracingDriver(GpibDriver& inner, Clock& clock, std::ostream& out)
      : inner_(inner), clock_(clock), out_(out) {}

  // Registers the caller's cells here and this driver's own cells with the
  // inner driver; after every call the inner outcome is copied to the caller's.
  int RegisterGpibGlobalsForThread(std::int32_t* status, std::int32_t* error, std::int32_t* count,
                                   std::int32_t* count_long) override;
  int UnregisterGpibGlobalsForThread() override;

  void SendIFC(int board) override;
  int ibsre(int board, int v) override;
  void FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) override;
  int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
  int ibpad(int ud, int pad) override;
  int ibclr(int ud) override;
  int ibrsp(int ud, char* spr) override;
  int ibwrt(int ud, const void* buf, long count) override;
  int ibrd(int ud, void* buf, long count) override;
  int ibtmo(int ud, int v) override;
  int ibask(int ud, int option, int* value) override;
  int ibwait(int ud, int mask) override;

  // Bytes as they appear in a trace line (without the quotes).
  static std::string EscapeData(const char* data, long count);
  // `data` escaped as above, in double quotes: the form of a log line.
  static std::string Quoted(const std::string& data) {
    return "\"" + EscapeData(data.data(), static_cast<long>(data.size())) + "\"";
  }

 private:
  void EnsureInnerRegistered();
  // Time of the call's start, as it will be printed.
  std::string Stamp();
  // Copies the inner outcome to the caller's cells and writes the line.
  void Finish(const std::string& stamp, const std::string& call, const std::string& tail = {});

  GpibDriver& inner_;
  Clock& clock_;
  std::ostream& out_;
  bool inner_registered_ = false;
  std::int32_t status_ = 0;
  std::int32_t error_ = 0;
  std::int32_t count_ = 0;
  std::int32_t count_long_ = 0;
};

}  // namespace kc
