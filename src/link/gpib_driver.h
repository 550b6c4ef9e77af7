// The GPIB driver interface: the NI-488.2 calls the checkout uses, with the
// driver's own 32-bit status, error and count cells. Back ends (the simulated
// bus, Prologix/AR488 adapters, linux-gpib boards) implement it; the binding
// (gpib_binding.h) is the only caller.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kc {

using Addr4882_t = std::uint16_t;

namespace gpib {
// Status bits.
inline constexpr int ERR = 0x8000;
inline constexpr int TIMO = 0x4000;
inline constexpr int END = 0x2000;
inline constexpr int SRQI = 0x1000;
inline constexpr int RQS = 0x800;
inline constexpr int CMPL = 0x100;
// Error codes.
inline constexpr int EDVR = 0;
inline constexpr int ECIC = 1;
inline constexpr int ENOL = 2;
inline constexpr int EADR = 3;
inline constexpr int EARG = 4;
inline constexpr int ESAC = 5;
inline constexpr int EABO = 6;
inline constexpr int ENEB = 7;
inline constexpr int EDMA = 8;
inline constexpr int EOIP = 10;
inline constexpr int ECAP = 11;
inline constexpr int EFSO = 12;
inline constexpr int EBUS = 14;
inline constexpr int ESTB = 15;
inline constexpr int ESRQ = 16;
inline constexpr int ETAB = 20;
// Address list terminator.
inline constexpr Addr4882_t NOADDR = 0xFFFF;
// ibask option for the time-out code.
inline constexpr int IbaTMO = 3;
// Time-out codes.
inline constexpr int TNONE = 0;
inline constexpr int T1s = 11;
inline constexpr int T3s = 12;
inline constexpr int T10s = 13;

// Seconds of a time-out code (0 for TNONE and for codes outside 0..17).
double TimeoutSeconds(int code);
// The time-out code (T10us to T1000s) nearest to `ms` milliseconds on a log
// scale.
int TimeoutCodeNear(double ms);
}  // namespace gpib

class GpibDriver {
 public:
  virtual ~GpibDriver() = default;

  // 0 = registered, 1 = registered before, anything else = failure.
  virtual int RegisterGpibGlobalsForThread(std::int32_t* status, std::int32_t* error,
                                           std::int32_t* count, std::int32_t* count_long) = 0;
  virtual int UnregisterGpibGlobalsForThread() = 0;

  virtual void SendIFC(int board) = 0;
  virtual int ibsre(int board, int v) = 0;
  // Writes the listening addresses of `pads` (ended by NOADDR) into `results`
  // from entry 0 on; the count lands in the count cells. More than `limit`:
  // ERR with ETAB; none: ERR with EBUS.
  virtual void FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) = 0;
  virtual int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) = 0;
  virtual int ibpad(int ud, int pad) = 0;
  virtual int ibclr(int ud) = 0;
  virtual int ibrsp(int ud, char* spr) = 0;
  virtual int ibwrt(int ud, const void* buf, long count) = 0;
  virtual int ibrd(int ud, void* buf, long count) = 0;
  virtual int ibtmo(int ud, int v) = 0;
  virtual int ibask(int ud, int option, int* value) = 0;
  virtual int ibwait(int ud, int mask) = 0;
};

// Shared part of the back ends: the registered cells and how a call reports.
class GpibDriverBase : public GpibDriver {
 public:
  int RegisterGpibGlobalsForThread(std::int32_t* status, std::int32_t* error, std::int32_t* count,
                                   std::int32_t* count_long) override;
  int UnregisterGpibGlobalsForThread() override;

 protected:
  // Stores the outcome of a call in the registered cells and returns the status.
  int Report(int status, int error, long count);
  // ERR with `error`, nothing transferred.
  int Fail(int error) { return Report(gpib::ERR, error, 0); }
  // What every listener search starts with: board 0, a list, room for an
  // answer. When they do not hold the call fails (ENEB, EARG): false.
  bool ListenerSearchArguments(int board, const Addr4882_t* pads, const Addr4882_t* results,
                               int limit);
  // The primary addresses of a search's list up to its end mark, in list
  // order without repeats. A list without an end mark within 256 entries, or
  // an entry that is not a primary address, fails the call (EARG): nothing.
  std::optional<std::vector<int>> ListedPrimaries(const Addr4882_t* pads);
  // The end of a listener search: of the addresses `listed` (0, the
  // controller, always listens) those in `found`, written to `results` as
  // FindLstn does, with ETAB beyond `limit` and EBUS when no instrument is
  // among them.
  void ReportListeners(const std::vector<int>& listed, const std::vector<int>& found,
                       Addr4882_t* results, int limit);

 private:
  std::int32_t* status_ = nullptr;
  std::int32_t* error_ = nullptr;
  std::int32_t* count_ = nullptr;
  std::int32_t* count_long_ = nullptr;
};

}  // namespace kc
