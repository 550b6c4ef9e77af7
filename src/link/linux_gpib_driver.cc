#include "link/linux_gpib_driver.h"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "link/bus_syntax.h"
#include "platform/text.h"

namespace kc {
namespace {

// Slice of a service-request wait: the device's time-out code while it lasts
// (10 ms), then a look for a close request.
constexpr int kSliceTmo = 7;
constexpr double kIdleSeconds = 0.02;
// The serial-poll status bit of a device that requests service.
constexpr int kRqsBit = 0x40;

const char kInstallHint[] =
    "Install linux-gpib (its user library, libgpib0 on Debian, and the kernel driver for "
    "the board) or set KC_LIBGPIB to the library's path.";

}  // namespace

struct LinuxGpibDriver::Library {
  void (*SendIFC)(int) = nullptr;
  void (*FindLstn)(int, const Addr4882_t*, Addr4882_t*, int) = nullptr;
  int (*ibdev)(int, int, int, int, int, int) = nullptr;
  int (*ibsre)(int, int) = nullptr;
  int (*ibpad)(int, int) = nullptr;
  int (*ibclr)(int) = nullptr;
  int (*ibrsp)(int, char*) = nullptr;
  int (*ibwrt)(int, const void*, long) = nullptr;
  int (*ibrd)(int, void*, long) = nullptr;
  int (*ibtmo)(int, int) = nullptr;
  int (*ibask)(int, int, int*) = nullptr;
  int (*ibwait)(int, int) = nullptr;
  int (*ThreadIbsta)() = nullptr;
  int (*ThreadIberr)() = nullptr;
  int (*ThreadIbcnt)() = nullptr;
  long (*ThreadIbcntl)() = nullptr;
};

namespace {

template <typename Function>
void Bind(void* handle, const std::string& library, const char* name, Function*& slot) {
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr)
    throw std::runtime_error("the linux-gpib library " + library + " has no call " + name +
                             "; it is too old or not linux-gpib. " + kInstallHint);
  static_assert(sizeof(symbol) == sizeof(slot));
  std::memcpy(&slot, &symbol, sizeof(slot));
}

}  // namespace

LinuxGpibDriver::LinuxGpibDriver(int board, Platform& platform, const std::string& library)
    : board_(board), platform_(platform), lib_(std::make_unique<Library>()) {
  std::vector<std::string> candidates;
  const char* from_environment = std::getenv("KC_LIBGPIB");
  if (!library.empty()) {
    candidates = {library};
  } else if (from_environment != nullptr && *from_environment != '\0') {
    candidates = {from_environment};
  } else {
    candidates = {"libgpib.so.0", "libgpib.so"};
  }
  std::string reasons;
  for (const std::string& candidate : candidates) {
    handle_ = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ != nullptr) {
      library_ = candidate;
      break;
    }
    const char* reason = dlerror();
    reasons += (reasons.empty() ? "" : "; ") + std::string(reason != nullptr ? reason : candidate);
  }
  if (handle_ == nullptr)
    throw std::runtime_error("the linux-gpib library could not be loaded (" + reasons + "). " +
                             kInstallHint);
  try {
    Bind(handle_, library_, "SendIFC", lib_->SendIFC);
    Bind(handle_, library_, "FindLstn", lib_->FindLstn);
    Bind(handle_, library_, "ibdev", lib_->ibdev);
    Bind(handle_, library_, "ibsre", lib_->ibsre);
    Bind(handle_, library_, "ibpad", lib_->ibpad);
    Bind(handle_, library_, "ibclr", lib_->ibclr);
    Bind(handle_, library_, "ibrsp", lib_->ibrsp);
    Bind(handle_, library_, "ibwrt", lib_->ibwrt);
    Bind(handle_, library_, "ibrd", lib_->ibrd);
    Bind(handle_, library_, "ibtmo", lib_->ibtmo);
    Bind(handle_, library_, "ibask", lib_->ibask);
    Bind(handle_, library_, "ibwait", lib_->ibwait);
    Bind(handle_, library_, "ThreadIbsta", lib_->ThreadIbsta);
    Bind(handle_, library_, "ThreadIberr", lib_->ThreadIberr);
    Bind(handle_, library_, "ThreadIbcnt", lib_->ThreadIbcnt);
    Bind(handle_, library_, "ThreadIbcntl", lib_->ThreadIbcntl);
  } catch (...) {
    dlclose(handle_);
    handle_ = nullptr;
    throw;
  }
}

LinuxGpibDriver::~LinuxGpibDriver() {
  if (handle_ != nullptr) dlclose(handle_);
}

int LinuxGpibDriver::Refresh() {
  return Report(lib_->ThreadIbsta(), lib_->ThreadIberr(), lib_->ThreadIbcntl());
}

void LinuxGpibDriver::SendIFC(int board) {
  lib_->SendIFC(board == 0 ? board_ : board);
  Refresh();
}

int LinuxGpibDriver::ibsre(int board, int v) {
  lib_->ibsre(board == 0 ? board_ : board, v);
  return Refresh();
}

void LinuxGpibDriver::FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) {
  if (pads == nullptr || results == nullptr || limit < 1) {
    Fail(gpib::EARG);
    return;
  }
  // The controller's own address is answered here; the library searches the
  // others.
  std::vector<Addr4882_t> listed;
  std::vector<Addr4882_t> others;
  for (int i = 0; pads[i] != gpib::NOADDR; ++i) {
    if (i > 255) {
      Fail(gpib::EARG);  // no end mark
      return;
    }
    listed.push_back(pads[i]);
    if (pads[i] != 0) others.push_back(pads[i]);
  }
  bool controller = others.size() < listed.size();
  int room = limit - (controller ? 1 : 0);
  std::vector<Addr4882_t> found;
  int status = gpib::CMPL;
  bool overflow = false;
  if (!others.empty()) {
    int capacity = std::max(room, 1);
    others.push_back(gpib::NOADDR);
    found.assign(static_cast<std::size_t>(capacity), 0);
    lib_->FindLstn(board == 0 ? board_ : board, others.data(), found.data(), capacity);
    status = lib_->ThreadIbsta();
    int error = lib_->ThreadIberr();
    long count = lib_->ThreadIbcntl();
    if ((status & gpib::ERR) != 0 && error != gpib::ETAB) {
      Report(status, error, 0);
      return;
    }
    overflow = (status & gpib::ERR) != 0 || count > room;
    found.resize(static_cast<std::size_t>(std::clamp<long>(count, 0, capacity)));
  }
  std::vector<Addr4882_t> answer;
  for (Addr4882_t pad : listed)
    if (pad == 0 || std::find(found.begin(), found.end(), pad) != found.end())
      answer.push_back(pad);
  int count =
      static_cast<int>(std::min<std::size_t>(answer.size(), static_cast<std::size_t>(limit)));
  std::copy_n(answer.begin(), count, results);
  if (overflow) {
    Report(gpib::ERR, gpib::ETAB, count);
  } else if (found.empty()) {
    Report(gpib::ERR, gpib::EBUS, count);
  } else {
    Report((status & ~gpib::ERR) | gpib::CMPL, 0, count);
  }
}

int LinuxGpibDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
  int ud = lib_->ibdev(board == 0 ? board_ : board, pad, sad, tmo, eot, eos);
  Refresh();
  return ud;
}

int LinuxGpibDriver::ibpad(int ud, int pad) {
  lib_->ibpad(ud, pad);
  return Refresh();
}

int LinuxGpibDriver::ibclr(int ud) {
  lib_->ibclr(ud);
  return Refresh();
}

int LinuxGpibDriver::ibrsp(int ud, char* spr) {
  lib_->ibrsp(ud, spr);
  return Refresh();
}

int LinuxGpibDriver::ibwrt(int ud, const void* buf, long count) {
  lib_->ibwrt(ud, buf, count);
  return Refresh();
}

int LinuxGpibDriver::ibrd(int ud, void* buf, long count) {
  lib_->ibrd(ud, buf, count);
  return Refresh();
}

int LinuxGpibDriver::ibtmo(int ud, int v) {
  lib_->ibtmo(ud, v);
  return Refresh();
}

int LinuxGpibDriver::ibask(int ud, int option, int* value) {
  lib_->ibask(ud, option, value);
  return Refresh();
}

int LinuxGpibDriver::ibwait(int ud, int mask) {
  if ((mask & gpib::RQS) != 0) return WaitForServiceRequest(ud, mask);
  lib_->ibwait(ud, mask);
  return Refresh();
}

int LinuxGpibDriver::WaitForServiceRequest(int ud, int mask) {
  int saved_tmo = 0;
  if ((lib_->ibask(ud, gpib::IbaTMO, &saved_tmo) & gpib::ERR) != 0) return Refresh();
  if ((lib_->ibtmo(ud, kSliceTmo) & gpib::ERR) != 0) return Refresh();
  using SteadyClock = std::chrono::steady_clock;
  double limit = gpib::TimeoutSeconds(saved_tmo);
  bool timed = (mask & gpib::TIMO) != 0 && limit > 0;
  SteadyClock::time_point end =
      SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                               std::chrono::duration<double>(timed ? limit : 0));
  // The outcome, kept while the time-out code is put back.
  int status = 0;
  int error = 0;
  long count = 0;
  while (true) {
    int waited = lib_->ibwait(ud, gpib::RQS | gpib::TIMO);
    if ((waited & (gpib::ERR | gpib::RQS)) != 0) {
      status = waited;
      error = lib_->ThreadIberr();
      count = lib_->ThreadIbcntl();
      break;
    }
    // Boards without automatic serial polling never show RQS: ask the device.
    char poll = 0;
    int polled = lib_->ibrsp(ud, &poll);
    if ((polled & gpib::ERR) == 0 && (poll & kRqsBit) != 0) {
      status = gpib::RQS | gpib::CMPL;
      break;
    }
    if ((polled & gpib::ERR) != 0 && lib_->ThreadIberr() != gpib::EABO) {
      status = polled;
      error = lib_->ThreadIberr();
      break;
    }
    if (timed && SteadyClock::now() >= end) {
      status = gpib::TIMO | gpib::CMPL;
      break;
    }
    if (platform_.WaitIdle(kIdleSeconds)) {
      status = gpib::CMPL;  // a close request ends the wait
      break;
    }
  }
  lib_->ibtmo(ud, saved_tmo);
  return Report(status, error, count);
}

namespace {

constexpr int kMaxBoard = 15;

std::optional<BusName> ParseLinuxGpibName(const std::string& text, std::string* error) {
  std::string_view board;
  if (text.find("::") != std::string::npos) {
    std::optional<std::vector<std::string_view>> parts = VisaInterfaceParts(text, error);
    if (!parts) return std::nullopt;
    if (parts->size() != 1) {
      *error = "expected GPIB[BOARD]::INTFC";
      return std::nullopt;
    }
    board = (*parts)[0].substr(4);
    if (board.empty()) board = "0";
  } else {
    board = std::string_view(text).substr(5);
  }
  std::optional<int> value = WholeNumber(board, 0, kMaxBoard);
  if (!value) {
    *error = "the board \"" + std::string(board) + "\" is not a number 0 to " +
             std::to_string(kMaxBoard);
    return std::nullopt;
  }
  BusName bus;
  bus.target = LinuxGpibTarget{*value};
  return bus;
}

}  // namespace

void RegisterLinuxGpibBus(BusRegistry& registry) {
  registry.Add({"gpib",
                {"gpib:"},
                {"GPIB"},
                {"gpib:N", "GPIB[N]::INTFC"},
                {"gpib:N                 linux-gpib board N (0..15); e.g. gpib:0",
                 "GPIB[N]::INTFC         as gpib:N; e.g. GPIB0::INTFC"},
                ParseLinuxGpibName,
                [](const BusName& bus, const BusEnv& env) -> std::unique_ptr<GpibDriver> {
                  const int board = bus.As<LinuxGpibTarget>()->board;
                  try {
                    return std::make_unique<LinuxGpibDriver>(board, env.platform);
                  } catch (const std::runtime_error& error) {
                    throw ProgramEnd{kExitFatal, "cannot use linux-gpib board " +
                                                     std::to_string(board) + ": " + error.what()};
                  }
                }});
}

}  // namespace kc
