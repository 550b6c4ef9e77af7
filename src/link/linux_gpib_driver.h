// The GPIB driver over a linux-gpib board. The linux-gpib user library is
// loaded when the driver is made ("libgpib.so.0", else "libgpib.so"; the
// environment variable KC_LIBGPIB names another file), and each call goes to
// it with the board number of the bus name in place of board 0. Status,
// error and count come from the library's ThreadIbsta, ThreadIberr and
// ThreadIbcntl after each call; the registered cells are this driver's own.
//
// Two calls are shaped to what the program relies on:
// - FindLstn answers address 0 (the controller) itself in the first entry
//   and reports ERR with EBUS when no instrument listens.
// - ibwait for RQS waits in short slices, also serial-polling the device for
//   boards without automatic polling, and ends without RQS when the platform
//   has a close request pending.
#pragma once

#include <memory>
#include <string>

#include "link/bus_registry.h"
#include "link/gpib_driver.h"
#include "platform/platform.h"

namespace kc {

// A board of the linux-gpib driver: "gpib:N" or "GPIB[N]::INTFC" (0 to 15).
struct LinuxGpibTarget {
  int board = 0;
};

class LinuxGpibDriver : public GpibDriverBase {
 public:
  // Loads the library (`library` when given, else KC_LIBGPIB, else the usual
  // names). Throws std::runtime_error, with a message that says how to
  // install linux-gpib, when the library or one of its calls is missing.
  LinuxGpibDriver(int board, Platform& platform, const std::string& library = {});
  ~LinuxGpibDriver() override;
  LinuxGpibDriver(const LinuxGpibDriver&) = delete;
  LinuxGpibDriver& operator=(const LinuxGpibDriver&) = delete;

  // The file that was loaded.
  const std::string& library() const { return library_; }
  int board() const { return board_; }

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
  struct Library;
  // Copies the library's status of this thread to the registered cells.
  int Refresh();
  int WaitForServiceRequest(int ud, int mask);

  int board_;
  Platform& platform_;
  std::string library_;
  void* handle_ = nullptr;
  std::unique_ptr<Library> lib_;
};

}  // namespace kc
