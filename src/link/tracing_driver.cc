#include "link/tracing_driver.h"

#include <cstdio>

namespace kc {

namespace {

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

// The address list of FindLstn up to NOADDR, runs of consecutive addresses
// written as first-last.
std::string AddressList(const Addr4882_t* pads) {
  std::string text = "[";
  int i = 0;
  while (pads[i] != gpib::NOADDR) {
    int first = pads[i];
    int last = first;
    while (pads[i + 1] != gpib::NOADDR && pads[i + 1] == last + 1) {
      ++i;
      ++last;
    }
    if (text.size() > 1) text += ' ';
    text += std::to_string(first);
    if (last > first) text += '-' + std::to_string(last);
    ++i;
  }
  return text + "]";
}

}  // namespace

std::string TracingDriver::EscapeData(const char* data, long count) {
  std::string text;
  for (long i = 0; i < count; ++i) {
    auto byte = static_cast<unsigned char>(data[i]);
    if (byte == '\n') {
      text += "\\n";
    } else if (byte == '\r') {
      text += "\\r";
    } else if (byte < 0x20 || byte > 0x7e) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    } else {
      text += static_cast<char>(byte);
    }
  }
  return text;
}

void TracingDriver::EnsureInnerRegistered() {
  if (inner_registered_) return;
  int result = inner_.RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_);
  inner_registered_ = result == 0 || result == 1;
}

std::string TracingDriver::Stamp() {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", clock_.SecondsSinceMidnight());
  return text;
}

void TracingDriver::Finish(const std::string& stamp, const std::string& call,
                           const std::string& tail) {
  Report(status_, error_, count_long_);
  out_ << stamp << ' ' << call << " -> ibsta " << Hex(static_cast<unsigned>(status_) & 0xFFFFu, 4)
       << " iberr " << error_ << " ibcnt " << count_long_ << tail << '\n';
  out_.flush();
}

int TracingDriver::RegisterGpibGlobalsForThread(std::int32_t* status, std::int32_t* error,
                                                std::int32_t* count, std::int32_t* count_long) {
  std::string stamp = Stamp();
  int result = GpibDriverBase::RegisterGpibGlobalsForThread(status, error, count, count_long);
  if (!inner_registered_) {
    int inner_result =
        inner_.RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_);
    inner_registered_ = inner_result == 0 || inner_result == 1;
    if (!inner_registered_) result = inner_result;
  }
  out_ << stamp << " RegisterGpibGlobalsForThread -> " << result << '\n';
  out_.flush();
  return result;
}

int TracingDriver::UnregisterGpibGlobalsForThread() {
  std::string stamp = Stamp();
  GpibDriverBase::UnregisterGpibGlobalsForThread();
  int result = inner_registered_ ? inner_.UnregisterGpibGlobalsForThread() : 0;
  inner_registered_ = false;
  out_ << stamp << " UnregisterGpibGlobalsForThread -> " << result << '\n';
  out_.flush();
  return result;
}

void TracingDriver::SendIFC(int board) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  inner_.SendIFC(board);
  Finish(stamp, "SendIFC(" + std::to_string(board) + ")");
}

int TracingDriver::ibsre(int board, int v) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  int status = inner_.ibsre(board, v);
  Finish(stamp, "ibsre(" + std::to_string(board) + ", " + std::to_string(v) + ")");
  return status;
}

void TracingDriver::FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  std::string call = "FindLstn(" + std::to_string(board) + ", " + AddressList(pads) + ", " +
                     std::to_string(limit) + ")";
  inner_.FindLstn(board, pads, results, limit);
  std::string tail;
  if ((status_ & gpib::ERR) == 0) {
    tail = " found [";
    for (int i = 0; i < count_long_ && i < limit; ++i) {
      if (i > 0) tail += ' ';
      tail += std::to_string(results[i]);
    }
    tail += "]";
  }
  Finish(stamp, call, tail);
}

int TracingDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  int ud = inner_.ibdev(board, pad, sad, tmo, eot, eos);
  Finish(stamp,
         "ibdev(" + std::to_string(board) + ", " + std::to_string(pad) + ", " +
             std::to_string(sad) + ", " + std::to_string(tmo) + ", " + std::to_string(eot) + ", " +
             std::to_string(eos) + ")",
         " ud " + std::to_string(ud));
  return ud;
}

int TracingDriver::ibpad(int ud, int pad) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  int status = inner_.ibpad(ud, pad);
  Finish(stamp, "ibpad(" + std::to_string(ud) + ", " + std::to_string(pad) + ")");
  return status;
}

int TracingDriver::ibclr(int ud) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  int status = inner_.ibclr(ud);
  Finish(stamp, "ibclr(" + std::to_string(ud) + ")");
  return status;
}

int TracingDriver::ibrsp(int ud, char* spr) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  int status = inner_.ibrsp(ud, spr);
  std::string tail;
  if ((status_ & gpib::ERR) == 0) {
    tail = " spr " + Hex(static_cast<unsigned char>(*spr), 2);
  }
  Finish(stamp, "ibrsp(" + std::to_string(ud) + ")", tail);
  return status;
}

int TracingDriver::ibwrt(int ud, const void* buf, long count) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  int status = inner_.ibwrt(ud, buf, count);
  Finish(stamp, "ibwrt(" + std::to_string(ud) + ", " + std::to_string(count) + ")",
         " data \"" + EscapeData(static_cast<const char*>(buf), count) + "\"");
  return status;
}

int TracingDriver::ibrd(int ud, void* buf, long count) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  int status = inner_.ibrd(ud, buf, count);
  long got = count_long_;
  if (got < 0) got = 0;
  if (got > count) got = count;
  Finish(stamp, "ibrd(" + std::to_string(ud) + ", " + std::to_string(count) + ")",
         " data \"" + EscapeData(static_cast<const char*>(buf), got) + "\"");
  return status;
}

int TracingDriver::ibtmo(int ud, int v) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  int status = inner_.ibtmo(ud, v);
  Finish(stamp, "ibtmo(" + std::to_string(ud) + ", " + std::to_string(v) + ")");
  return status;
}

int TracingDriver::ibask(int ud, int option, int* value) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  int status = inner_.ibask(ud, option, value);
  std::string tail;
  if ((status_ & gpib::ERR) == 0) tail = " value " + std::to_string(*value);
  Finish(stamp, "ibask(" + std::to_string(ud) + ", " + std::to_string(option) + ")", tail);
  return status;
}

int TracingDriver::ibwait(int ud, int mask) {
  EnsureInnerRegistered();
  std::string stamp = Stamp();
  int status = inner_.ibwait(ud, mask);
  Finish(stamp, "ibwait(" + std::to_string(ud) + ", " + Hex(static_cast<unsigned>(mask), 4) + ")");
  return status;
}

}  // namespace kc
