// The GPIB driver over a LAN/GPIB gateway that speaks VXI-11 (the core
// channel, ONC RPC over TCP). The gateway's GPIB interface is reached
// through an interface link ("gpib0"): listener search by command bytes and
// the NDAC bus status, IFC, REN, and the SRQ bus status polled every 25 ms
// while the program waits for a service request. Each instrument address
// gets a link of its own ("gpib0,N") for writes (END with the last byte),
// reads (to END, or the terminator when the descriptor names one, within the
// descriptor's time-out), serial polls and device clear.
//
// Bus names:
//   vxi11://HOST[/gpib0[,N]]          the core channel's port from the
//                                     portmapper on HOST (TCP port 111)
//   vxi11://HOST:PORT[/gpib0[,N]]     the core channel at PORT directly
//   TCPIP[b]::HOST::gpib0,N::INSTR    VISA style: the instrument at address N
// HOST may be an [IPv6] address in brackets. An address N in the name is
// taken instead of a listener search.
//
// The connection is made by the first call. When the gateway cannot be
// reached, the connection drops, the gateway stops answering or sends
// something that is not a reply, calls fail with ENEB (not reachable), EDVR
// (connection lost, garbled reply) or EABO (silent), and one line naming the
// gateway and the fault goes to the diagnostic sink; the next call connects
// again. The gateway's own errors: I/O time-out and a device locked by
// another client are time-outs (ERR, TIMO, EABO), an I/O error on a write or
// clear is "no listener" (ENOL). Links are destroyed when the driver goes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "link/gpib_driver.h"
#include "link/onc_rpc.h"
#include "platform/platform.h"

namespace kc {

// The core channel's messages.
namespace vxi11 {

inline constexpr std::uint32_t kCoreProgram = 0x0607AF;
inline constexpr std::uint32_t kCoreVersion = 1;

enum Procedure : std::uint32_t {
  kCreateLink = 10,
  kDeviceWrite = 11,
  kDeviceRead = 12,
  kDeviceReadStb = 13,
  kDeviceTrigger = 14,
  kDeviceClear = 15,
  kDeviceRemote = 16,
  kDeviceLocal = 17,
  kDeviceLock = 18,
  kDeviceUnlock = 19,
  kDeviceEnableSrq = 20,
  kDeviceDocmd = 22,
  kDestroyLink = 23,
  kCreateIntrChan = 25,
  kDestroyIntrChan = 26,
};

// Device_ErrorCode values.
inline constexpr std::int32_t kNoError = 0;
inline constexpr std::int32_t kSyntaxError = 1;
inline constexpr std::int32_t kNotAccessible = 3;
inline constexpr std::int32_t kInvalidLink = 4;
inline constexpr std::int32_t kParameterError = 5;
inline constexpr std::int32_t kNotSupported = 8;
inline constexpr std::int32_t kOutOfResources = 9;
inline constexpr std::int32_t kDeviceLocked = 11;
inline constexpr std::int32_t kNoLockHeld = 12;
inline constexpr std::int32_t kIoTimeout = 15;
inline constexpr std::int32_t kIoError = 17;
inline constexpr std::int32_t kInvalidAddress = 21;

// Device_Flags.
inline constexpr std::int32_t kWaitLock = 0x01;
inline constexpr std::int32_t kEndFlag = 0x08;
inline constexpr std::int32_t kTermCharSet = 0x80;
// Read reasons.
inline constexpr std::int32_t kReasonRequestCount = 1;
inline constexpr std::int32_t kReasonTermChar = 2;
inline constexpr std::int32_t kReasonEnd = 4;

// device_docmd commands on a GPIB interface link, and bus status selectors.
inline constexpr std::int32_t kSendCommand = 0x020000;
inline constexpr std::int32_t kBusStatus = 0x020001;
inline constexpr std::int32_t kAtnControl = 0x020002;
inline constexpr std::int32_t kRenControl = 0x020003;
inline constexpr std::int32_t kIfcControl = 0x020010;
inline constexpr std::uint16_t kStatusRen = 1;
inline constexpr std::uint16_t kStatusSrq = 2;
inline constexpr std::uint16_t kStatusNdac = 3;
inline constexpr std::uint16_t kStatusBusAddress = 8;

// Limits on what is taken from the wire.
inline constexpr std::size_t kMaxDeviceName = 256;
inline constexpr std::size_t kMaxData = 1 << 16;

struct CreateLinkParms {
  std::int32_t client_id = 0;
  bool lock_device = false;
  std::uint32_t lock_timeout = 0;
  std::string device;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(client_id) && io(lock_device) && io(lock_timeout) && io(device, kMaxDeviceName);
  }
};
struct CreateLinkResp {
  std::int32_t error = 0;
  std::int32_t lid = 0;
  std::uint32_t abort_port = 0;
  std::uint32_t max_recv_size = 0;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(error) && io(lid) && io(abort_port) && io(max_recv_size);
  }
};
struct WriteParms {
  std::int32_t lid = 0;
  std::uint32_t io_timeout = 0;
  std::uint32_t lock_timeout = 0;
  std::int32_t flags = 0;
  std::string data;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(lid) && io(io_timeout) && io(lock_timeout) && io(flags) && io(data, kMaxData);
  }
};
struct WriteResp {
  std::int32_t error = 0;
  std::uint32_t size = 0;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(error) && io(size);
  }
};
struct ReadParms {
  std::int32_t lid = 0;
  std::uint32_t request_size = 0;
  std::uint32_t io_timeout = 0;
  std::uint32_t lock_timeout = 0;
  std::int32_t flags = 0;
  std::uint32_t term_char = 0;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(lid) && io(request_size) && io(io_timeout) && io(lock_timeout) && io(flags) &&
           io(term_char);
  }
};
struct ReadResp {
  std::int32_t error = 0;
  std::int32_t reason = 0;
  std::string data;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(error) && io(reason) && io(data, kMaxData);
  }
};
struct ReadStbResp {
  std::int32_t error = 0;
  std::uint32_t stb = 0;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(error) && io(stb);
  }
};
struct GenericParms {
  std::int32_t lid = 0;
  std::int32_t flags = 0;
  std::uint32_t lock_timeout = 0;
  std::uint32_t io_timeout = 0;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(lid) && io(flags) && io(lock_timeout) && io(io_timeout);
  }
};
struct LockParms {
  std::int32_t lid = 0;
  std::int32_t flags = 0;
  std::uint32_t lock_timeout = 0;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(lid) && io(flags) && io(lock_timeout);
  }
};
struct DocmdParms {
  std::int32_t lid = 0;
  std::int32_t flags = 0;
  std::uint32_t io_timeout = 0;
  std::uint32_t lock_timeout = 0;
  std::int32_t cmd = 0;
  bool network_order = true;
  std::int32_t datasize = 0;
  std::string data_in;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(lid) && io(flags) && io(io_timeout) && io(lock_timeout) && io(cmd) &&
           io(network_order) && io(datasize) && io(data_in, kMaxData);
  }
};
struct DocmdResp {
  std::int32_t error = 0;
  std::string data_out;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(error) && io(data_out, kMaxData);
  }
};
// Device_Link and Device_Error are one long each.
struct LinkOrError {
  std::int32_t value = 0;
  template <typename Io>
  bool Xdr(Io& io) {
    return io(value);
  }
};

// A 16-bit value as device_docmd carries it in network order.
std::string Word16(std::uint16_t value);
std::optional<std::uint16_t> ReadWord16(std::string_view data);

}  // namespace vxi11

// What a vxi11 bus name says.
struct Vxi11Target {
  std::string host;  // name or address; an IPv6 address without brackets
  int port = 0;      // 0: ask the portmapper
  std::string interface_name = "gpib0";
  // The instruments' addresses given by the name, taken instead of a search.
  std::vector<int> listeners;
  std::string text;  // the name as given
};

// True for the names this back end reads: "vxi11://..." and VISA-style
// "TCPIP[b]::...::INSTR" (the VISA words in any case).
bool ClaimsVxi11Name(std::string_view text);
// Reads a name; nullopt and a message that quotes it when it is malformed.
std::optional<Vxi11Target> ParseVxi11Name(const std::string& text, std::string* error);
// One line per form, with an example, for --help.
std::vector<std::string> Vxi11HelpLines();

struct Vxi11Options {
  double connect_seconds = 3.0;
  // Time the gateway has for answers of its own, and beyond an I/O time-out.
  double answer_seconds = 1.0;
  double srq_poll_seconds = 0.025;
  int portmapper_port = 111;
  // Where fault lines go; standard error when empty.
  std::function<void(const std::string&)> diagnostic;
};

class Vxi11Driver : public GpibDriverBase {
 public:
  Vxi11Driver(Vxi11Target target, Platform& platform, Vxi11Options options = {});
  ~Vxi11Driver() override;

  // "GPIB gateway at 10.0.0.7:1024".
  std::string GatewayName() const;

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

 private:
  struct Descriptor {
    int pad = 0;
    int sad = 0;
    int tmo = 0;
    bool eoi = true;
    int eos = 0;
  };
  struct Link {
    std::int32_t lid = 0;
    std::uint32_t max_recv_size = 0;
  };

  Descriptor* Find(int ud);
  // Connects (asking the portmapper when no port is given) unless connected.
  bool Begin();
  // One call of the core channel; false after a fault (reported, and the
  // connection closed).
  bool Call(std::uint32_t procedure, const std::string& args, double seconds, std::string* results,
            const char* what);
  template <typename Resp>
  bool CallFor(std::uint32_t procedure, const std::string& args, double seconds, Resp* resp,
               const char* what);
  // The interface link, or the device link of `descriptor`.
  std::optional<Link> InterfaceLink();
  std::optional<Link> DeviceLink(const Descriptor& descriptor);
  std::optional<Link> CreateLink(const std::string& device);
  // device_docmd on the interface link; the answer's data.
  std::optional<std::string> Docmd(std::int32_t command, const std::string& data, const char* what);
  std::optional<std::uint16_t> BusStatus(std::uint16_t selector);
  // The outcome of a call the gateway answered with `error`.
  int GatewayError(std::int32_t error, const std::string& device, bool writing, long count);
  void Drop(int fault_error, const std::string& line);
  void Diagnose(const std::string& line);
  int Ok(int status, long count);
  int FailWithFault() { return Fail(fault_error_); }
  std::uint32_t TimeoutMs(int tmo) const;
  std::string DeviceName(int pad, int sad) const;
  std::optional<std::vector<int>> SearchListeners(const std::vector<int>& wanted);
  int WaitForServiceRequest(const Descriptor& descriptor, bool timed);
  void DestroyLinks();

  Vxi11Target target_;
  Platform& platform_;
  Vxi11Options options_;
  rpc::Client client_;
  int port_ = 0;  // the core channel's port, once known
  std::vector<std::unique_ptr<Descriptor>> descriptors_;
  std::optional<Link> interface_link_;
  std::map<std::pair<int, int>, Link> device_links_;
  std::optional<int> own_address_;
  bool fault_reported_ = false;
  int fault_error_ = 0;
};

// The driver for a parsed vxi11 name.
std::unique_ptr<GpibDriver> MakeVxi11Driver(const Vxi11Target& target, Platform& platform,
                                            std::function<void(const std::string&)> diagnostic);

}  // namespace kc
