// A stand-in for the linux-gpib user library: the same C calls, over a
// scripted bus. Listeners 1 and 7 answer "ID?" with "ID FAKE/<pad>"
// and serial polls with 0; a service request comes after a set number of
// waits. Every call is logged, one line each, for the tests to compare.
//
// Test controls: kc_fake_gpib_reset(), kc_fake_gpib_log(),
// kc_fake_gpib_request_service(n, autopoll).

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Addr4882_t = unsigned short;

constexpr int ERR = 0x8000;
constexpr int TIMO = 0x4000;
constexpr int END = 0x2000;
constexpr int RQS = 0x800;
constexpr int CMPL = 0x100;
constexpr int EABO = 6;
constexpr Addr4882_t NOADDR = 0xFFFF;
constexpr int kFirstDescriptor = 16;

struct Device {
  int pad = 0;
  int tmo = 0;
  std::string reply;
};

struct Bus {
  std::string log;
  std::vector<int> listeners = {1, 7};
  std::map<int, Device> devices;
  int next_ud = kFirstDescriptor;
  int rqs_after = 0;  // waits until the service request; 0: none
  bool autopoll = true;
  int waits = 0;
};

Bus bus;
thread_local int ibsta_cell = 0;
thread_local int iberr_cell = 0;
thread_local long ibcnt_cell = 0;

int Done(int status, int error, long count) {
  ibsta_cell = status;
  iberr_cell = error;
  ibcnt_cell = count;
  return status;
}

void Log(const std::string& line) {
  bus.log += line + "\n";
}

std::string Args(std::initializer_list<long> values) {
  std::string text;
  for (long v : values) text += (text.empty() ? "" : ",") + std::to_string(v);
  return text;
}

bool RequestingService() {
  return bus.rqs_after > 0 && bus.waits >= bus.rqs_after;
}

}  // namespace

extern "C" {

void kc_fake_gpib_reset() {
  bus = Bus{};
}
const char* kc_fake_gpib_log() {
  return bus.log.c_str();
}
void kc_fake_gpib_request_service(int after_waits, int autopoll) {
  bus.rqs_after = after_waits;
  bus.autopoll = autopoll != 0;
}

int ThreadIbsta() {
  return ibsta_cell;
}
int ThreadIberr() {
  return iberr_cell;
}
int ThreadIbcnt() {
  return static_cast<int>(ibcnt_cell);
}
long ThreadIbcntl() {
  return ibcnt_cell;
}

void SendIFC(int board) {
  Log("SendIFC(" + Args({board}) + ")");
  Done(CMPL, 0, 0);
}

int ibsre(int ud, int v) {
  Log("ibsre(" + Args({ud, v}) + ")");
  return Done(CMPL, 0, 0);
}

void FindLstn(int board, const Addr4882_t pads[], Addr4882_t results[], int limit) {
  std::string list;
  std::vector<Addr4882_t> found;
  for (int i = 0; pads[i] != NOADDR; ++i) {
    list += (list.empty() ? "" : " ") + std::to_string(pads[i]);
    if (std::find(bus.listeners.begin(), bus.listeners.end(), pads[i]) != bus.listeners.end())
      found.push_back(pads[i]);
  }
  Log("FindLstn(" + Args({board}) + ",[" + list + "]," + Args({limit}) + ")");
  std::copy(found.begin(), found.end(), results);  // the tests' lists are short
  Done(CMPL, 0, static_cast<long>(found.size()));
}

int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
  Log("ibdev(" + Args({board, pad, sad, tmo, eot, eos}) + ")");
  int ud = bus.next_ud++;
  bus.devices[ud] = Device{pad, tmo, {}};
  Done(CMPL, 0, 0);
  return ud;
}

int ibpad(int ud, int v) {
  Log("ibpad(" + Args({ud, v}) + ")");
  bus.devices[ud].pad = v;
  return Done(CMPL, 0, 0);
}

int ibclr(int ud) {
  Log("ibclr(" + Args({ud}) + ")");
  return Done(CMPL, 0, 0);
}

int ibtmo(int ud, int v) {
  Log("ibtmo(" + Args({ud, v}) + ")");
  bus.devices[ud].tmo = v;
  return Done(CMPL, 0, 0);
}

int ibask(int ud, int option, int* value) {
  Log("ibask(" + Args({ud, option}) + ")");
  *value = bus.devices[ud].tmo;
  return Done(CMPL, 0, 0);
}

int ibrsp(int ud, char* spr) {
  Log("ibrsp(" + Args({ud}) + ")");
  *spr = RequestingService() ? static_cast<char>(0x50) : 0;
  if (RequestingService()) bus.rqs_after = 0;  // the poll takes the request back
  return Done(CMPL, 0, 1);
}

int ibwrt(int ud, const void* buf, long count) {
  std::string text(static_cast<const char*>(buf), static_cast<std::size_t>(count));
  Log("ibwrt(" + Args({ud}) + "," + text + ")");
  Device& device = bus.devices[ud];
  if (text == "ID?") device.reply = "ID FAKE/" + std::to_string(device.pad) + "\n";
  return Done(CMPL, 0, count);
}

int ibrd(int ud, void* buf, long count) {
  Log("ibrd(" + Args({ud, count}) + ")");
  Device& device = bus.devices[ud];
  if (device.reply.empty()) return Done(ERR | TIMO | CMPL, EABO, 0);
  std::size_t n = std::min(device.reply.size(), static_cast<std::size_t>(count));
  std::memcpy(buf, device.reply.data(), n);
  device.reply.erase(0, n);
  return Done(device.reply.empty() ? CMPL | END : CMPL, 0, static_cast<long>(n));
}

#ifndef KC_FAKE_GPIB_WITHOUT_IBWAIT
int ibwait(int ud, int mask) {
  char hex[16];
  std::snprintf(hex, sizeof(hex), "0x%x", static_cast<unsigned>(mask));
  Log("ibwait(" + Args({ud}) + "," + hex + ")");
  if ((mask & RQS) != 0) {
    ++bus.waits;
    if (bus.autopoll && RequestingService()) {
      bus.rqs_after = 0;
      return Done(RQS | CMPL, 0, 0);
    }
  }
  return Done((mask & TIMO) != 0 ? TIMO | CMPL : CMPL, 0, 0);
}
#endif

}  // extern "C"
