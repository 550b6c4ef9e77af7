// The simulated bus behind a LAN/GPIB gateway: the core channel of VXI-11
// (ONC RPC over TCP) as a rack gateway serves it, so that a program reaches
// the simulated oscilloscope as it would reach a real instrument through
// such a gateway.
//
// Vxi11Gateway is the gateway without its network: bytes from each client
// connection in, reply bytes out. Links: "gpib0" is the GPIB interface
// (device_docmd: command bytes, bus status, IFC, REN, ATN), "gpib0,N" (or
// "gpib0,N,S") the device at primary address N, for device_write (a message
// goes to the device when the piece with END arrives), device_read (to the
// device's END; the simulated devices end every reply with EOI, so a
// terminator is not looked for), device_readstb, device_clear,
// device_trigger/remote/local (accepted), device_lock/unlock and
// destroy_link. There is no abort or interrupt channel (abortPort 0,
// create_intr_chan is not supported). A client that goes loses its links
// and locks.
//
// Whoever stands at the instrument acts when the client looks at the SRQ
// line (bus status 2) and nothing is pending, as when the program waits for
// a service request on the in-process bus; what is under way on its own
// comes first (on a virtual clock, that time passes at the look).
//
// Vxi11Server serves a gateway on a TCP port (the core channel only; the
// program reaches it with vxi11://ADDR:PORT, without a portmapper), any
// number of clients at a time, on the thread that calls Poll or Serve. Beside
// another server on the same bus, in one thread: watch Handles() in that
// server's poll() and call Poll(0) when one of them is readable (and at
// least every 50 ms, for the bench to catch up).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "link/onc_rpc.h"
#include "link/vxi11_driver.h"
#include "platform/platform.h"
#include "sim/sim_bus.h"

namespace kc {

class Vxi11Gateway {
 public:
  // The largest record a client may send, and the most a write piece holds.
  static constexpr std::size_t kMaxRecord = 1 << 17;
  static constexpr std::uint32_t kMaxRecvSize = 4096;

  // `technician` (may be null) acts on an SRQ look; `log` (may be null) gets
  // one line per bus operation, as the adapter emulator writes them
  // (write/read/spoll/clear PAD ..., ifc, ren N, "# note").
  Vxi11Gateway(SimBus& bus, Platform& platform, SimTechnician* technician, std::ostream* log);
  ~Vxi11Gateway();
  Vxi11Gateway(const Vxi11Gateway&) = delete;
  Vxi11Gateway& operator=(const Vxi11Gateway&) = delete;

  // A client connected from `who`; the number its bytes come with.
  int Connect(const std::string& who);
  // Bytes from a client. Each whole call is carried out and its reply record
  // appended to `*out`. False when the stream cannot go on (a record beyond
  // kMaxRecord, a message that is no RPC call): the connection must close.
  bool Receive(int connection, std::string_view bytes, std::string* out);
  // The client went: its links are destroyed and its locks released.
  void Disconnect(int connection, const std::string& why);
  // The devices and the technician catch up with the clock.
  void Tick();
  // Seconds until something happens on its own, if anything is under way.
  std::optional<double> SecondsToNextEvent();
  void Note(const std::string& text);

 private:
  struct Link {
    int connection = 0;
    int pad = -1;  // -1: the interface
    std::string device;
    std::string message;  // pieces of a write waiting for END
  };
  struct Connection {
    std::string who;
    rpc::RecordReader records{kMaxRecord};
  };

  // The results of a call; `*stat` when they are not a success.
  std::string Dispatch(int connection, std::uint32_t procedure, std::string_view args,
                       rpc::AcceptStat* stat);
  std::string CreateLink(int connection, const vxi11::CreateLinkParms& parms);
  // The link `lid` of `connection` (nullptr, and the error, when it is not
  // one, is the wrong kind, or its device is locked by another link).
  Link* Use(int connection, std::int32_t lid, bool device, std::int32_t* error);
  vxi11::WriteResp Write(Link& link, const vxi11::WriteParms& parms);
  vxi11::ReadResp Read(Link& link, const vxi11::ReadParms& parms);
  vxi11::DocmdResp Docmd(const vxi11::DocmdParms& parms);
  std::int32_t Lock(std::int32_t lid, bool take);
  void DestroyLink(std::int32_t lid);
  bool ServiceRequested();
  bool Listening();
  // The bus descriptor for `pad` with the time-out nearest `ms`.
  int Descriptor(int pad, std::uint32_t ms);
  std::int32_t ErrorOf(int status) const;
  void Log(const std::string& line);

  SimBus& bus_;
  Platform& platform_;
  SimTechnician* technician_;
  std::ostream* log_;
  std::map<int, Connection> connections_;
  int next_connection_ = 1;
  std::map<std::int32_t, Link> links_;
  std::int32_t next_lid_ = 1;
  std::map<int, std::int32_t> locks_;               // pad (-1: interface) -> the link that holds it
  std::map<int, std::pair<int, int>> descriptors_;  // pad -> descriptor, its time-out code
  std::vector<int> listeners_;                      // addressed by command bytes
  bool ren_ = false;
  bool script_done_noted_ = false;
  std::int32_t status_ = 0;
  std::int32_t error_ = 0;
  std::int32_t count_ = 0;
  std::int32_t count_long_ = 0;
};

class Vxi11Server {
 public:
  // A TCP port on `address` (IPv4 or bracketless IPv6; "localhost" is
  // 127.0.0.1); port 0 picks a free one. nullptr and `*error` on failure.
  static std::unique_ptr<Vxi11Server> Listen(Vxi11Gateway& gateway, const std::string& address,
                                             int port, std::string* error);
  ~Vxi11Server();
  Vxi11Server(const Vxi11Server&) = delete;
  Vxi11Server& operator=(const Vxi11Server&) = delete;

  // "127.0.0.1:40123", "[::1]:1024".
  std::string Describe() const;
  // The bus name the program is given: "vxi11://127.0.0.1:40123".
  std::string BusName() const;
  int port() const;
  // Serves what arrives within `seconds` and returns (0: only what has
  // arrived already).
  void Poll(double seconds);
  // The sockets to watch for input (the listening one and each client's),
  // for a server loop built on poll(): when one is readable, Poll(0) serves
  // it. The list changes as clients come and go.
  std::vector<int> Handles() const;
  // Serves until `stop` says so (looked at every 50 ms at least) or the
  // platform has a close request.
  void Serve(Platform& platform, const std::function<bool()>& stop = {});
  // Closes every client's connection.
  void DropClients();

 private:
  struct Impl;
  explicit Vxi11Server(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace kc
