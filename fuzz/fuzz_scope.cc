// The simulated oscilloscope's command interpreter on arbitrary messages,
// mixed with reads, serial polls, device clears, front-panel presses, passing
// time and the test hooks (set replies, settings by name).
//
// Findings: a crash or sanitizer report, an exception, a reply that does not
// end with its line end, a screen that is not 16 lines, a next event that is
// not a finite time, a service request without its poll byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_platform.h"
#include "platform/clock.h"
#include "sim/sim_scope.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace kc;
  using kc::fuzz::Finding;
  FuzzedDataProvider data(bytes, size);
  const std::vector<std::string>& models = SimScope::Models();
  VirtualClock clock;
  SimScope scope(models[data.ConsumeIntegralInRange<std::size_t>(0, models.size() - 1)], clock);

  for (int step = 0; step < 256 && data.remaining_bytes() > 0; ++step) {
    switch (data.ConsumeIntegralInRange(0, 11)) {
      case 0:
      case 1:
      case 2:
      case 3:
        scope.Write(data.ConsumeRandomLengthString(512));
        break;
      case 4: {
        std::optional<std::string> reply = scope.Talk();
        if (reply && (reply->empty() || reply->back() != '\n')) {
          Finding("a reply without its line end");
        }
        break;
      }
      case 5: {
        const bool requesting = scope.RequestingService();
        const std::uint8_t status = scope.SerialPoll();
        if (requesting != (status == SimScope::kServiceRequestByte)) {
          Finding("the poll byte does not tell the service request");
        }
        if (scope.RequestingService()) Finding("the poll did not clear the service request");
        break;
      }
      case 6:
        scope.Clear();
        break;
      case 7:
        scope.PressBezel(data.ConsumeIntegralInRange(-1, 7));
        break;
      case 8:
        scope.PressMenuOff();
        break;
      case 9: {
        clock.Pass(data.ConsumeFloatingPointInRange(0.0, 20.0));
        scope.Tick(clock.Elapsed());
        break;
      }
      case 10: {
        std::string query = data.ConsumeRandomLengthString(64);
        std::vector<std::string> replies;
        for (int i = data.ConsumeIntegralInRange(0, 3); i > 0; --i) {
          replies.push_back(data.ConsumeRandomLengthString(32));
        }
        scope.SetReplies(query, replies);
        break;
      }
      default: {
        std::string key = data.ConsumeRandomLengthString(48);
        (void)scope.Setting(key);
        if (std::optional<double> number = scope.NumberSetting(key)) {
          if (!std::isfinite(*number)) Finding("a setting read as a number that is not finite");
        }
        break;
      }
    }
    if (scope.screen().size() != static_cast<std::size_t>(SimScope::kScreenLines)) {
      Finding("the screen does not have 16 lines");
    }
    if (std::optional<double> next = scope.NextEventTime()) {
      if (!std::isfinite(*next) || *next < 0) Finding("a next event that is not a finite time");
    }
  }
  return 0;
}
