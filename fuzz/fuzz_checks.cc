// A fuzzed instrument on the simulated bus: its replies to every query, its
// serial-poll bytes, the answers to the message boxes and faults of the
// driver calls all come from the fuzzer's input. One input runs one check (any
// of the eleven, both kinds of trigger) or the whole program through its menu,
// on any model of the family or one outside it, in virtual time.
//
// Once the input is used up, the instrument answers "EVE?" in turn with the
// leave event and 0, which brings every check and the menu to an end within a
// few waits: the leave event leaves a check or the menu, 0 goes on where a
// check cannot be left, ends the emptying of the event queue and only redraws
// the menu, so no new check starts. Its other readings are 0.
//
// Findings (the process aborts): an exception other than the end of the
// program, a run that does not end within a bound on bus calls or virtual
// time, traffic after Cancel was chosen, an end by the technician giving up
// (this one never does), a message line the instrument cannot read, or a
// screen text that is not printable ASCII or shows "inf", "nan" or an
// exponent.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_platform.h"
#include "link/gpib_binding.h"
#include "link/instrument_ops.h"
#include "link/scope_syntax.h"
#include "shell/main_form.h"
#include "sim/sim_bus.h"
#include "sim/sim_scope.h"

namespace kc::fuzz {
namespace {

// Bus calls a run may make: a fixed allowance and some for every input byte
// (each byte can end a wait, answer a query or ask for another poll).
constexpr long kBaseCalls = 200000;
constexpr long kCallsPerByte = 2000;

const char* const kEvents[] = {"450", "451", "452", "453",   "454", "650", "0",
                               "449", "700", "",    "452.5", "-1",  "1E9", "32767"};

const char* const kReadings[] = {
    "0",         "1",         "-1",           ".4",      "0.49",
    "0.392",     "5",         "-5",           "25",      "50",
    "100",       "1E38",      "3.4028235E38", "-3.5E38", "1E-45",
    "1E-300",    "1E400",     "-1E400",       "NaN",     "inf",
    "-0",        "  12abc",   "+.5e-3",       "",        "99999999999999999999",
    "0.0000001", "65535",     "32768",        "-32769",  "1.5E-38",
    "2.5E",      "0x1p3",     "\n",           " ;",      "12;34",
    "2E-7",      "999999.95", "-999999.95",   "0.05",    "4.999999"};

const char* const kLineEnds[] = {"\n", "\r\n", "", "\r", " \n", "\n\n", "\r\r\n"};

// Screen texts: printable ASCII, and no number text that went wrong.
void CheckScreenText(const std::string& text, const std::string& message) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E)
      Finding("a screen text with a character that is not printable: " + message);
  }
  std::string lower;
  for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("inf") != std::string::npos || lower.find("nan") != std::string::npos) {
    Finding("a screen text with inf or nan: " + message);
  }
  for (std::size_t i = 0; i + 2 < lower.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(lower[i])) || lower[i + 1] != 'e') continue;
    std::size_t j = i + 2;
    if (j < lower.size() && (lower[j] == '+' || lower[j] == '-')) ++j;
    if (j < lower.size() && std::isdigit(static_cast<unsigned char>(lower[j]))) {
      Finding("a screen text with an exponent: " + message);
    }
  }
}

void CheckMessage(const std::string& message) {
  for (const std::string& text : SplitMessage(message)) {
    std::string why;
    std::optional<ScopeCommand> command = ParseCommand(text, &why);
    if (!command) {
      Finding("a command the instrument cannot read (" + why + "): " + message);
    }
    std::string header = ToUpper(command->header);
    if (header.rfind("MESS", 0) != 0) continue;
    for (const std::vector<std::string>& argument : command->arguments) {
      for (const std::string& part : argument) {
        if (std::optional<std::string> quoted = Unquote(part)) CheckScreenText(*quoted, message);
      }
    }
  }
}

class FuzzedScope : public SimDevice {
 public:
  FuzzedScope(FuzzedDataProvider& data, FuzzPlatform& platform, SimBus& bus, std::string model,
              bool fuzz_identity, long max_calls)
      : data_(data),
        platform_(platform),
        bus_(bus),
        model_(std::move(model)),
        fuzz_identity_(fuzz_identity),
        max_calls_(max_calls) {}

  void Write(const std::string& message) override {
    Traffic();
    // KC_FUZZ_TRACE=1 shows the traffic when a finding is replayed.
    static const bool trace = std::getenv("KC_FUZZ_TRACE") != nullptr;
    if (trace) std::fprintf(stderr, "%10.3f > %s\n", platform_.clock().Elapsed(), message.c_str());
    CheckMessage(message);
    received_.push_back(message);
    reply_.reset();
    const std::string upper = ToUpper(message);
    if (upper.find('?') != std::string::npos) {
      if (upper.rfind("ID?", 0) == 0 && !fuzz_identity_) {
        reply_ = "AB/" + model_ + ",V81.1";
      } else if (upper.find("EVE?") != std::string::npos) {
        reply_ = Event();
      } else {
        reply_ = Reading();
      }
    }
    MaybeInjectFault();
  }

  std::optional<std::string> Talk() override {
    Traffic();
    if (!reply_) return std::nullopt;
    std::string reply = std::move(*reply_);
    reply_.reset();
    if (data_.remaining_bytes() == 0) return reply + "\n";
    // Now and then the instrument says nothing and the read times out.
    if (data_.ConsumeIntegralInRange(0, 31) == 0) return std::nullopt;
    return reply +
           kLineEnds[data_.ConsumeIntegralInRange<std::size_t>(0, std::size(kLineEnds) - 1)];
  }

  std::uint8_t SerialPoll() override {
    Traffic();
    service_ = false;
    return data_.ConsumeIntegral<std::uint8_t>();
  }

  void Clear() override { reply_.reset(); }
  bool RequestingService() const override { return service_; }
  void RequestService() { service_ = true; }
  const std::vector<std::string>& received() const { return received_; }

 private:
  void Traffic() {
    if (platform_.cancelled) Finding("the instrument was addressed after Cancel");
    if (bus_.total_calls() > max_calls_) Finding("the run does not end (bus calls)");
  }

  std::string Event() {
    if (data_.remaining_bytes() == 0) {
      return exhausted_events_++ % 2 == 0 ? "650" : "0";
    }
    if (data_.ConsumeBool()) {
      return kEvents[data_.ConsumeIntegralInRange<std::size_t>(0, std::size(kEvents) - 1)];
    }
    return data_.ConsumeRandomLengthString(24);
  }

  std::string Reading() {
    if (data_.remaining_bytes() == 0) return "0";
    if (data_.ConsumeIntegralInRange(0, 3) != 0) {
      return kReadings[data_.ConsumeIntegralInRange<std::size_t>(0, std::size(kReadings) - 1)];
    }
    return data_.ConsumeRandomLengthString(600);
  }

  // Now and then the next driver call of some kind fails.
  void MaybeInjectFault() {
    if (data_.remaining_bytes() == 0 || data_.ConsumeIntegralInRange(0, 63) != 0) return;
    BusFault fault;
    fault.call = static_cast<BusCall>(data_.ConsumeIntegralInRange(0, 4));
    fault.iberr = data_.ConsumeIntegralInRange(-2, 22);
    fault.timeout = data_.ConsumeBool();
    fault.after = data_.ConsumeIntegralInRange(0, 3);
    fault.count = 1;
    bus_.InjectFault(fault);
  }

  FuzzedDataProvider& data_;
  FuzzPlatform& platform_;
  SimBus& bus_;
  std::string model_;
  bool fuzz_identity_;
  long max_calls_;
  std::optional<std::string> reply_;
  std::vector<std::string> received_;
  bool service_ = false;
  int exhausted_events_ = 0;
};

// Ends every wait for a bezel button at once: the event itself comes from the
// instrument's "EVE?" reply.
class PromptTechnician : public SimTechnician {
 public:
  explicit PromptTechnician(FuzzedScope& scope) : scope_(scope) {}
  std::optional<double> NextTimedAction() const override { return std::nullopt; }
  bool ActIfDue(double now) override {
    (void)now;
    return false;
  }
  bool ActOnWait(double now) override {
    (void)now;
    scope_.RequestService();
    return true;
  }
  bool interactive() const override { return false; }

 private:
  FuzzedScope& scope_;
};

// The checks in the order of the input's choice; the trigger check runs for
// both of its buttons (9 and 10).
void RunCheck(MainForm& form, int which) {
  using Check = void (MainForm::*)();
  static constexpr Check kChecks[] = {
      &MainForm::AttenComp, &MainForm::BandWidth, &MainForm::Calibrator,
      &MainForm::CCDcte,    &MainForm::CCDlin,    &MainForm::CMRR,
      &MainForm::ExtTrig,   &MainForm::SamplSkew, &MainForm::Timing};
  if (which == 9 || which == 10) {
    Integer button = static_cast<Integer>(which - 8);
    form.Trigger(button);
  } else if (which < 9) {
    (form.*kChecks[which])();
  } else {
    form.VertAcc();
  }
}

}  // namespace
}  // namespace kc::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace kc;
  using namespace kc::fuzz;
  FuzzedDataProvider data(bytes, size);
  static const char* const kModels[] = {"2430",  "2430A", "2431L", "2432",
                                        "2432A", "2439L", "2440",  "2445"};
  const std::string model = kModels[data.ConsumeIntegralInRange(0, 7)];
  // 0 to 11: one check after start-up; 12: the whole program from its menu.
  const int which = data.ConsumeIntegralInRange(0, 12);
  const bool fuzz_identity = data.ConsumeIntegralInRange(0, 15) == 0;
  // Now and then the window is closed at some moment of the run.
  const double close_at =
      data.ConsumeIntegralInRange(0, 7) == 0 ? data.ConsumeFloatingPointInRange(0.0, 300.0) : -1;

  FuzzPlatform platform;
  platform.close_at = close_at;
  platform.answer_box = [&data](MsgButtons) {
    if (data.remaining_bytes() > 0 && data.ConsumeIntegralInRange(0, 31) == 0) {
      return MsgAnswer::kCancel;
    }
    return MsgAnswer::kOk;
  };
  SimBus bus(platform);
  const long max_calls = kBaseCalls + kCallsPerByte * static_cast<long>(size);
  auto device = std::make_unique<FuzzedScope>(data, platform, bus, model, fuzz_identity, max_calls);
  FuzzedScope& scope = *device;
  bus.Attach(1, std::move(device));
  PromptTechnician technician(scope);
  bus.SetTechnician(&technician);
  GpibBinding gpib(bus);
  InstrumentOps ops(gpib, platform);
  MainForm form(ops);

  int code = -1;
  bool started = false;
  try {
    if (which == 12) {
      form.Run();
    } else {
      // As the main window does: a close request runs the closing sequence.
      platform.SetCloseHandler([&form] { form.CloseRequested(); });
      form.Form_Load();
      started = true;
      ops.WriteDev(form.dev, "INIT GPI;PATH OFF;USE;BELL");
      form.ClearEvents();
      RunCheck(form, which);
    }
  } catch (const ProgramEnd& end) {
    code = end.code;
  }
  bus.SetTechnician(nullptr);

  if (code == kExitOperatorDone) Finding("the run ended waiting for a technician who is there");
  // Only the menu or a close request closes the program; a check returns to
  // its caller.
  if (code == kExitClosed && which != 12 && !platform.close_requested) {
    Finding("a check closed the program");
  }
  // The closing sequence comes once, and only the two channel commands follow
  // its notice (a write lost to an injected fault may be missing).
  const std::vector<std::string>& received = scope.received();
  const std::string notice = "MESS CLR,9:\"         *** CLOSING PROGRAM ***\"";
  for (std::size_t i = 0; i < received.size(); ++i) {
    if (received[i] != notice) continue;
    if (code != kExitClosed && code != kExitInterrupted &&
        !(code == kExitFatal && platform.cancelled)) {
      Finding("the closing notice, and the program did not end by closing");
    }
    const std::vector<std::string> rest(received.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                        received.end());
    const std::vector<std::string> channels = {"INIT BOTH;CH1 COU:GND,POS:+.5",
                                               "VMO CH2;CH2 COU:GND,POS:-.5"};
    std::size_t next = 0;
    for (const std::string& message : rest) {
      while (next < channels.size() && channels[next] != message) ++next;
      if (next == channels.size()) Finding("after the closing notice: " + message);
      ++next;
    }
    break;
  }
  // After start-up only Cancel ends the program.
  if (code == kExitFatal && started && !platform.cancelled) {
    Finding("the program ended as if Cancel had been chosen, but nobody chose it");
  }
  return 0;
}
