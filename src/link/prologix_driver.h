// The GPIB driver over a Prologix-style adapter: a Prologix GPIB-ETHERNET or
// GPIB-USB, or an AR488 (main line or ESP32 line), reached through a byte
// stream. The adapter is identified with "++ver" and set up as controller:
//
//   ++mode 1, ++auto 0, ++eoi 1, ++eos 3, ++eot_enable 1, ++eot_char 4,
//   ++read_tmo_ms <descriptor time-out>
//
// The configuration is never saved in the adapter. Data for the instrument is
// escaped (ESC before CR, LF, ESC and '+') and ended by LF; "++addr" goes out
// only when the address changes, "++read_tmo_ms" only when the time-out does.
// A read asks "++read eoi" and takes the bytes up to the end character the
// adapter appends at EOI, within the descriptor's time-out for the whole read.
//
// The connection is made by the first call. When the adapter cannot be
// reached, the connection drops or the adapter stops answering, calls fail
// with ENEB (adapter not reachable), EDVR (connection lost) or EABO (adapter
// silent), and one line naming the adapter and the error goes to the
// diagnostic sink for each such fault; the next call tries to connect again.
// A connection the adapter ends before it has answered "++ver" is taken for
// an adapter busy with another host. The fault line (or, after a listener
// search, the addresses that did not answer) is also the platform's message
// detail until a call works again.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/adapter_stream.h"
#include "link/bus_registry.h"
#include "link/descriptor_driver.h"
#include "platform/platform.h"

namespace kc {

// Where the adapter is: "prologix://HOST[:PORT]" (TCP, port 1234) or
// "prologix:DEVICE[:BAUD]" (a serial port, 115200 baud), each with an optional
// "?addr=A,B" list of instruments; "PRLGX-TCPIP[b]::HOST[::PORT]::INTFC" and
// "PRLGX-ASRL[b]::DEVICE::INTFC" are the same, as VISA names them.
struct PrologixTarget {
  bool serial = false;
  std::string host;
  int port = 1234;
  std::string device;
  int baud = 115200;
};

struct PrologixOptions {
  // The only addresses polled for listeners, instead of a search of the
  // bus (the "?addr=" list); those that do not answer are named.
  std::vector<int> listeners;
  // Connecting, or opening the serial port.
  double connect_seconds = 3.0;
  // Answers the adapter gives itself ("++ver", "++srq").
  double answer_seconds = 1.0;
  // Tries of "++ver" at start; an AR488 on a serial port restarts when the
  // port opens and hears nothing for a moment.
  int identify_tries = 3;
  // Interval of "++srq" polls while waiting for a service request.
  double srq_poll_seconds = 0.025;
  // The adapter's read time-out while it searches for listeners.
  int search_timeout_ms = 50;
  // The character the adapter appends to a reply when it sees EOI.
  char eot_char = 4;
  // Where fault lines go; standard error when empty.
  std::function<void(const std::string&)> diagnostic;
};

class PrologixDriver : public DescriptorDriver {
 public:
  enum class Flavor { kUnknown, kPrologix, kAr488, kAr488Esp32 };

  // `stream` is not yet open. `platform` is asked for a pending close request
  // while a service-request wait goes on.
  PrologixDriver(std::unique_ptr<AdapterStream> stream, Platform& platform,
                 PrologixOptions options = {});
  ~PrologixDriver() override;

  // Connects, identifies and sets up the adapter now, unless that is done;
  // false after a fault (already reported). Every call does this first.
  bool Start();

  Flavor flavor() const { return flavor_; }
  // The adapter's "++ver" line.
  const std::string& version() const { return version_; }
  // "AR488 at /dev/ttyUSB0", "adapter at 10.0.0.5:1234".
  std::string AdapterName() const;

  void SendIFC(int board) override;
  int ibsre(int board, int v) override;
  void FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) override;
  int ibclr(int ud) override;
  int ibrsp(int ud, char* spr) override;
  int ibwrt(int ud, const void* buf, long count) override;
  int ibrd(int ud, void* buf, long count) override;
  int ibwait(int ud, int mask) override;

  // Data for the instrument as the adapter must receive it: CR, LF, ESC and
  // '+' escaped with ESC, then LF.
  static std::string EscapeData(const char* data, long count);
  // Flavor by the "++ver" text: Prologix, the AR488 ESP32 line, else the AR488
  // main line.
  static Flavor FlavorOf(const std::string& version);
  // The addresses in a listener-search answer: "3,4,6" or "3 4 6 10 " or "";
  // nullopt when the line is not such a list.
  static std::optional<std::vector<int>> ParseListenerList(const std::string& line);

 private:
  using Accept = std::function<bool(const std::string&)>;

  // Start(), then a resynchronisation when one is due, then the input that
  // came unasked is dropped. False after a fault.
  bool Begin();
  // The adapter's next line that `accept` takes, skipping its error lines;
  // after an error line the answer has `error_grace` seconds more at most.
  // Empty when none came before the deadline or the connection failed
  // (then the stream is closed).
  std::optional<std::string> Answer(AdapterStream::Deadline deadline, const Accept& accept,
                                    double error_grace = -1);
  // Sends whole lines to the adapter.
  bool Send(const std::string& lines);
  // Sends "++addr" and, for a write, "++eoi" or, for a read, "++read_tmo_ms"
  // as far as they differ from what the adapter is set to.
  bool Select(const Descriptor& descriptor, bool for_read);
  // After a time-out the adapter may still be busy and send late bytes: wait
  // for it to answer "++ver" and drop what came before.
  bool Resync();
  bool Identify();
  // The connection failed: it is closed and the next call connects again.
  void ConnectionLost(const std::string& what, const std::error_code& error);
  // The adapter did not answer: the connection is closed and made again.
  void AdapterSilent(const std::string& what);
  // A fault line: to the diagnostic sink once per fault (the next boxes carry
  // the latest one as their reason).
  void Diagnose(const std::string& line);
  // A line to the diagnostic sink that is the reason for the next boxes.
  void Note(const std::string& line);
  // A call worked: the next fault is reported again, the reason is stale.
  void Recovered();
  int Ok(int status, long count);
  int FailWithFault() { return Fail(fault_error_); }
  int ReadTimeoutMs(int tmo) const;
  std::optional<std::vector<int>> SearchListeners(const std::vector<int>& wanted);
  std::optional<std::vector<int>> ProbeListeners(const std::vector<int>& wanted);
  int WaitForServiceRequest(const Descriptor& descriptor, bool timed);
  int HandOut(void* buf, long count);
  AdapterStream::Deadline After(double seconds) const;

  std::unique_ptr<AdapterStream> stream_;
  Platform& platform_;
  PrologixOptions options_;

  bool ready_ = false;           // connected, identified and set up
  bool fault_reported_ = false;  // a fault line is out and no call has worked since
  int fault_error_ = 0;          // the error of calls while the fault lasts
  bool needs_resync_ = false;
  bool identifying_ = false;  // a new connection is asked "++ver"
  Flavor flavor_ = Flavor::kUnknown;
  std::string version_;
  // What the adapter is set to; -1 when not known.
  int addr_pad_ = -1;
  int addr_sad_ = -1;
  int eoi_ = -1;
  int read_tmo_ms_ = -1;
  // The rest of a reply longer than the caller's buffer, and whose it is.
  std::string rest_;
  int rest_pad_ = -1;
  int rest_sad_ = -1;
};

// The driver for a Prologix bus name (TCP or serial), with the listeners its
// "?addr=" names.
// Reads a Prologix bus name (see PrologixTarget); the message on an error.
std::optional<BusName> ParsePrologixName(const std::string& text, std::string* error);
std::unique_ptr<PrologixDriver> MakePrologixDriver(const BusName& bus, Platform& platform,
                                                   PrologixOptions options = {});

}  // namespace kc
