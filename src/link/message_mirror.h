// A driver that hands every call to another one and, after each write that
// went through, mirrors the instrument's message lines to the window: "MESS
// n:"text"" writes line n, "MESS CLR" clears all lines, "MESS CLR,n:"text""
// clears them and writes line n. Used with real controllers, where the window
// has no other way of seeing the instrument's screen.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/gpib_driver.h"
#include "platform/platform.h"

namespace kc {

// The message-line changes one write makes, in order: line 1..16 and its new
// text (escapes as sent), or line 0 for "all lines cleared". Commands other
// than MESS, and MESS commands it cannot read, are passed over.
struct MessageChange {
  int line = 0;
  std::string text;
  bool operator==(const MessageChange&) const = default;
};
std::vector<MessageChange> ParseMessageCommands(const std::string& data);

class MessageMirror : public GpibDriver {
 public:
  MessageMirror(GpibDriver& inner, Platform& platform) : inner_(inner), platform_(platform) {}

  int RegisterGpibGlobalsForThread(std::int32_t* status, std::int32_t* error, std::int32_t* count,
                                   std::int32_t* count_long) override {
    return inner_.RegisterGpibGlobalsForThread(status, error, count, count_long);
  }
  int UnregisterGpibGlobalsForThread() override { return inner_.UnregisterGpibGlobalsForThread(); }
  void SendIFC(int board) override { inner_.SendIFC(board); }
  int ibsre(int board, int v) override { return inner_.ibsre(board, v); }
  void FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) override {
    inner_.FindLstn(board, pads, results, limit);
  }
  int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override {
    return inner_.ibdev(board, pad, sad, tmo, eot, eos);
  }
  int ibpad(int ud, int pad) override { return inner_.ibpad(ud, pad); }
  int ibclr(int ud) override { return inner_.ibclr(ud); }
  int ibrsp(int ud, char* spr) override { return inner_.ibrsp(ud, spr); }
  int ibwrt(int ud, const void* buf, long count) override;
  int ibrd(int ud, void* buf, long count) override { return inner_.ibrd(ud, buf, count); }
  int ibtmo(int ud, int v) override { return inner_.ibtmo(ud, v); }
  int ibask(int ud, int option, int* value) override { return inner_.ibask(ud, option, value); }
  int ibwait(int ud, int mask) override { return inner_.ibwait(ud, mask); }

 private:
  GpibDriver& inner_;
  Platform& platform_;
  // What the window was last told, so that only changes are mirrored.
  std::array<std::string, 16> lines_;
};

}  // namespace kc
