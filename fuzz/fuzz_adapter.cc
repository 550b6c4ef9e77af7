// The Prologix/AR488 back end on arbitrary adapter output. An in-memory stream
// stands for the TCP connection or serial port: what the adapter "says" comes
// from the fuzzer's input, as plausible lines (version texts, status bytes,
// listener lists, replies with their end character, error lines) or raw bytes,
// cut at arbitrary points, with time-outs, lost connections and refused
// connects in between. The driver calls are chosen by the input too, or the
// instrument operations run over the driver (search, identification,
// queries, reads).
//
// Findings: a crash or sanitizer report, an exception, a read that reports
// more bytes than its buffer holds, a call that fails without ERR or reports
// an error code with success, or data escaped for the adapter that does not
// unescape to what was written.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_platform.h"
#include "link/adapter_stream.h"
#include "link/gpib_binding.h"
#include "link/gpib_driver.h"
#include "link/instrument_ops.h"
#include "link/prologix_driver.h"

namespace kc::fuzz {
namespace {

const char* const kLines[] = {
    "AR488 GPIB controller, ver. 0.53.04, 13/04/2025\r\n",
    "Prologix GPIB-ETHERNET version 1.6.6.0\r\n",
    "AR488 GPIB4 ESP32 controller, ver. 0.51.18\r\n",
    "0\r\n",
    "1\r\n",
    "65\r\n",
    "16\r\n",
    "256\r\n",
    "\r\n",
    "\n",
    "Unrecognized command\r\n",
    "Invalid parameter\r\n",
    "Missing parameter\r\n",
    "3 4 6 10 \r\n",
    "1,2,30\r\n",
    "1\r\n",
    "31 99\r\n",
    "AB/2440,V81.1\n\x04",
    "452\n\x04",
    "0.392\r\n\x04",
    "\x04",
    "Unrecognized command\r\n452\n\x04",
    "\x1b\x04",
};

// The stream: what the host writes is only checked, what it reads comes from
// the input. Nothing waits; a read with nothing to give times out at once.
class FuzzStream : public AdapterStream {
 public:
  explicit FuzzStream(FuzzedDataProvider& data) : data_(data) {}

  std::error_code Open(Deadline deadline) override {
    (void)deadline;
    Close();
    if (data_.remaining_bytes() > 0 && data_.ConsumeIntegralInRange(0, 15) == 0) {
      return std::make_error_code(std::errc::connection_refused);
    }
    open_ = true;
    return {};
  }
  void Close() override {
    open_ = false;
    pending_.clear();
    ClearBuffer();
  }
  bool is_open() const override { return open_; }
  std::string Describe() const override { return "fuzz:1234"; }

 protected:
  std::error_code WriteSome(std::string_view bytes, Deadline deadline, std::size_t* sent) override {
    (void)deadline;
    *sent = 0;
    if (!open_) return std::make_error_code(std::errc::not_connected);
    if (data_.remaining_bytes() > 0 && data_.ConsumeIntegralInRange(0, 63) == 0) {
      return std::make_error_code(std::errc::broken_pipe);
    }
    // Sometimes only part goes out at once.
    *sent = data_.remaining_bytes() > 0 && data_.ConsumeBool()
                ? data_.ConsumeIntegralInRange<std::size_t>(1, bytes.size())
                : bytes.size();
    return {};
  }

  std::error_code ReadSome(Deadline deadline, std::string* out) override {
    (void)deadline;
    if (!open_) return std::make_error_code(std::errc::not_connected);
    if (pending_.empty()) {
      if (data_.remaining_bytes() == 0) return TimedOut();
      switch (data_.ConsumeIntegralInRange(0, 9)) {
        case 0:
          return TimedOut();
        case 1:
          open_ = false;
          return std::make_error_code(std::errc::connection_reset);
        case 2:
        case 3:
          pending_ = data_.ConsumeRandomLengthString(700);
          break;
        default:
          pending_ = kLines[data_.ConsumeIntegralInRange<std::size_t>(0, std::size(kLines) - 1)];
          break;
      }
      if (pending_.empty()) return TimedOut();
    }
    // Cut at an arbitrary point: the rest comes with the next read.
    std::size_t n = data_.remaining_bytes() > 0
                        ? data_.ConsumeIntegralInRange<std::size_t>(1, pending_.size())
                        : pending_.size();
    out->append(pending_, 0, n);
    pending_.erase(0, n);
    return {};
  }

 private:
  FuzzedDataProvider& data_;
  bool open_ = false;
  std::string pending_;
};

// Undoes the adapter escapes: ESC before CR, LF, ESC and '+', LF at the end.
void CheckEscaped(const std::string& written) {
  const std::string escaped =
      PrologixDriver::EscapeData(written.data(), static_cast<long>(written.size()));
  if (escaped.empty() || escaped.back() != '\n') Finding("escaped data without its line end");
  std::string back;
  for (std::size_t i = 0; i + 1 < escaped.size(); ++i) {
    char c = escaped[i];
    if (c == 27) {
      if (i + 2 >= escaped.size()) Finding("an escape before the line end");
      back += escaped[++i];
      continue;
    }
    if (c == '\r' || c == '\n' || c == '+') Finding("a character that needs an escape went bare");
    back += c;
  }
  if (back != written) Finding("escaped data does not unescape to what was written");
}

// The instrument operations over the adapter: the start-up search and
// identification, then queries, writes and reads as the checks make them.
void RunOperations(FuzzedDataProvider& data, PrologixDriver& driver, FuzzPlatform& platform) {
  platform.answer_box = [&data](MsgButtons) {
    if (data.remaining_bytes() > 0 && data.ConsumeIntegralInRange(0, 7) == 0) {
      return MsgAnswer::kCancel;
    }
    return MsgAnswer::kOk;
  };
  GpibBinding gpib(driver);
  InstrumentOps ops(gpib, platform);
  try {
    ops.DefaultTimeout = gpib::T3s;
    ops.FindListeners(1);
    std::string query = "ID?";
    std::string expected = "!244";
    Integer dev = ops.FindDevice(query, expected);
    if (dev == 0) {
      query = "ID?";
      expected = "243";
      dev = ops.FindDevice(query, expected);
    }
    for (int step = 0; step < 32 && data.remaining_bytes() > 0; ++step) {
      switch (data.ConsumeIntegralInRange(0, 3)) {
        case 0:
          ops.WriteDev(dev, data.ConsumeRandomLengthString(64));
          break;
        case 1:
          (void)ops.QueryDev(dev, "EVE?");
          break;
        case 2:
          (void)ops.QueryDev(dev, "CURS?DISP:VAL");
          break;
        default:
          (void)ops.ReadDev(dev);
          break;
      }
    }
  } catch (const ProgramEnd& end) {
    if (end.code != kExitFatal) Finding("the operations ended other than fatally");
  }
}

void CheckOutcome(int status, std::int32_t cell_status, std::int32_t cell_error) {
  if (status != cell_status) Finding("the returned status is not the status cell");
  if ((cell_status & gpib::ERR) == 0 && cell_error != 0) Finding("an error code without ERR");
}

}  // namespace
}  // namespace kc::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace kc;
  using namespace kc::fuzz;
  FuzzedDataProvider data(bytes, size);
  FuzzPlatform platform;

  PrologixOptions options;
  options.identify_tries = data.ConsumeIntegralInRange(1, 3);
  options.srq_poll_seconds = 0;
  options.answer_seconds = 0;
  options.connect_seconds = 0;
  options.diagnostic = [](const std::string& line) {
    if (line.empty()) Finding("an empty diagnostic line");
  };
  if (data.ConsumeBool()) {
    for (int i = data.ConsumeIntegralInRange(1, 3); i > 0; --i) {
      options.listeners.push_back(data.ConsumeIntegralInRange(1, 30));
    }
  }
  PrologixDriver driver(std::make_unique<FuzzStream>(data), platform, options);
  if (data.ConsumeIntegralInRange(0, 3) == 0) {
    RunOperations(data, driver, platform);
    return 0;
  }
  std::int32_t status = 0, error = 0, count = 0, count_long = 0;
  driver.RegisterGpibGlobalsForThread(&status, &error, &count, &count_long);

  const int ud = driver.ibdev(0, data.ConsumeIntegralInRange(0, 30), 0, gpib::T3s, 1, 0);
  CheckOutcome(status, status, error);
  for (int call = 0; call < 64 && data.remaining_bytes() > 0; ++call) {
    std::optional<int> result;
    switch (data.ConsumeIntegralInRange(0, 11)) {
      case 0: {
        std::string text = data.ConsumeRandomLengthString(128);
        CheckEscaped(text);
        result = driver.ibwrt(ud, text.data(), static_cast<long>(text.size()));
        break;
      }
      case 1: {
        const long length = data.ConsumeIntegralInRange(1, 600);
        std::vector<char> buffer(static_cast<std::size_t>(length), ' ');
        result = driver.ibrd(ud, buffer.data(), length);
        if (count_long < 0 || count_long > length) Finding("a read reports more than its buffer");
        break;
      }
      case 2: {
        char poll[2] = {' ', ' '};
        result = driver.ibrsp(ud, poll);
        break;
      }
      case 3:
        // A bare TIMO wait lasts its time-out in real time: not asked here.
        result = driver.ibwait(ud, data.ConsumeBool() ? gpib::RQS : gpib::TIMO | gpib::CMPL);
        break;
      case 4:
        result = driver.ibclr(ud);
        break;
      case 5: {
        Addr4882_t pads[32];
        for (int i = 0; i <= 30; ++i) pads[i] = static_cast<Addr4882_t>(i);
        pads[31] = gpib::NOADDR;
        Addr4882_t results[15] = {};
        driver.FindLstn(0, pads, results, 15);
        for (Addr4882_t found : results) {
          if (found > 30) Finding("a listener address above 30");
        }
        break;
      }
      case 6:
        driver.SendIFC(0);
        break;
      case 7:
        result = driver.ibsre(0, 1);
        break;
      case 8:
        result = driver.ibpad(ud, data.ConsumeIntegralInRange(-1, 31));
        break;
      case 9:
        result = driver.ibtmo(ud, data.ConsumeIntegralInRange(-1, 18));
        break;
      case 10: {
        int value = 0;
        result = driver.ibask(ud, gpib::IbaTMO, &value);
        break;
      }
      default:
        (void)driver.Start();
        break;
    }
    CheckOutcome(result.value_or(status), status, error);
  }
  return 0;
}
