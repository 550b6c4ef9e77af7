#include "app/checkout/runner.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/checkout/tui/curses_platform.h"
#include "link/message_mirror.h"
#include "link/gpib_binding.h"
#include "link/instrument_ops.h"
#include "link/tracing_driver.h"
#include "platform/clock.h"
#include "platform/headless_platform.h"
#include "platform/terminal_platform.h"
#include "shell/main_form.h"
#include "sim/faults.h"
#include "sim/measurement.h"
#include "sim/screen_text.h"
#include "sim/script_technician.h"
#include "sim/sim_bus.h"
#include "sim/sim_devices.h"
#include "sim/sim_scope.h"

namespace kc {

namespace {

struct Outcome {
  int code = kExitClosed;
  std::string message;
  // Why a fatal end came, when the bus back end said so only in the window.
  std::string reason;
};

}  // namespace

SimBench::SimBench() = default;

SimBench::~SimBench() {
  if (bus) bus->SetTechnician(nullptr);
}

void BuildSimBench(const Options& options, Platform& platform, bool terminal, SimBench& bench) {
  bench.bus = std::make_unique<SimBus>(platform);
  const SimTarget& target = *options.bus.As<SimTarget>();
  auto scope = std::make_unique<SimScope>(target.model, platform.clock());
  bench.scope = scope.get();
  SimScope* shown = bench.scope;
  shown->SetScreenListener([shown, &platform] {
    std::vector<std::string> lines;
    lines.reserve(shown->screen().size());
    for (const std::string& line : shown->screen()) lines.push_back(RenderScreenText(line));
    platform.ShowInstrumentScreen(lines, shown->bells());
  });
  bench.bus->Attach(target.address, std::move(scope));
  // The oscilloscope measures what the bench's sources feed it; the hands
  // connect and set the sources as its screen asks.
  bench.sources = std::make_unique<SourceBench>();
  auto model = std::make_unique<MeasurementModel>(
      target.model, TraitsWithFaults(target.model, options.faults),
      options.seed ? *options.seed : std::random_device{}());
  model->SetBench(bench.sources.get());
  shown->SetMeasurement(std::move(model));
  bench.hand = std::make_unique<BenchHand>(*shown, *bench.sources);
  // The full-screen window draws the instrument's front panel.
  if (auto* window = dynamic_cast<CursesPlatform*>(&platform)) {
    bench.panel = std::make_unique<FrontPanelLink>(*window, *bench.bus, *shown, target.address,
                                                   bench.sources.get());
  }

  for (const SimDeviceOption& device : options.sim_devices) {
    std::string error;
    std::optional<DeviceSpec> described = ParseDeviceSpec(device.text, &error);
    if (!described) throw std::invalid_argument(error);
    bench.bus->Attach(described->address, MakeDevice(*described, platform.clock()));
  }

  if (options.operator_script) {
    bench.technician =
        std::make_unique<ScriptTechnician>(*shown, platform.clock(), *options.operator_script);
    // The keys still work at a terminal: the script and a person share the
    // front panel.
    if (terminal)
      platform.SetKeyHandler([shown](int key) { KeyboardTechnician::Press(*shown, key); });
  } else if (terminal) {
    bench.technician = std::make_unique<KeyboardTechnician>(platform, *shown);
  }
  // Headless without a script: nobody stands at the instrument, and the first
  // wait for a bezel button ends the run.
  bench.bus->SetTechnician(bench.technician.get());
}

namespace {

// The driver of a real bus: a Prologix or AR488 adapter, or a linux-gpib
// board. The adapter's fault lines go to `err`, or under the full-screen
// window to its notice line.
std::unique_ptr<GpibDriver> MakeRealDriver(const BusName& bus, Platform& platform,
                                           std::ostream& err) {
  auto* window = dynamic_cast<CursesPlatform*>(&platform);
  BusEnv env{platform, [&err, window](const std::string& line) {
               if (window != nullptr)
                 window->ShowNote(line);
               else
                 err << kProgramName << ": " << line << std::endl;
             }};
  return BusRegistry::Builtin().Make(bus, env);
}

Outcome RunOnPlatform(const Options& options, Platform& platform, bool terminal,
                      std::ostream* trace, std::ostream& err) {
  SimBench bench;
  std::unique_ptr<GpibDriver> real_bus;
  GpibDriver* driver = nullptr;
  if (options.bus.simulated()) {
    BuildSimBench(options, platform, terminal, bench);
    driver = bench.bus.get();
  } else {
    real_bus = MakeRealDriver(options.bus, platform, err);
    driver = real_bus.get();
  }
  // The window mirrors the message lines written to a real instrument.
  std::unique_ptr<MessageMirror> mirror;
  if (!options.bus.simulated()) {
    if (auto* window = dynamic_cast<CursesPlatform*>(&platform)) window->ShowMirror();
    mirror = std::make_unique<MessageMirror>(*driver, platform);
    driver = mirror.get();
  }
  std::unique_ptr<TracingDriver> tracer;
  if (trace != nullptr) {
    tracer = std::make_unique<TracingDriver>(*driver, platform.clock(), *trace);
    driver = tracer.get();
  }
  GpibBinding gpib(*driver);
  InstrumentOps ops(gpib, platform);
  MainForm form(ops);
  Outcome outcome;
  try {
    form.Run();
  } catch (const ProgramEnd& end) {
    outcome.code = end.code;
    outcome.message = end.message;
  }
  platform.SetKeyHandler(nullptr);
  platform.SetCloseHandler(nullptr);
  // The window's notice line is gone with the window: the reason is printed
  // after it. Elsewhere the fault lines went to `err` as they came.
  if (outcome.code == kExitFatal && dynamic_cast<CursesPlatform*>(&platform) != nullptr)
    outcome.reason = platform.message_detail();
  return outcome;
}

}  // namespace

int RunCheckout(const Options& options, std::ostream& out, std::ostream& err) {
  std::ofstream trace;
  if (!options.trace_file.empty()) {
    trace.open(options.trace_file, std::ios::out | std::ios::trunc);
    if (!trace) {
      err << kProgramName << ": cannot write the trace file \"" << options.trace_file
          << "\": " << std::strerror(errno) << "\n";
      return kExitUsage;
    }
  }

  Outcome outcome;
  try {
    std::unique_ptr<Clock> clock;
    if (options.virtual_time) {
      clock = std::make_unique<VirtualClock>();
    } else {
      clock = std::make_unique<RealClock>();
    }
    bool terminal = isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0;
    std::ostream* trace_stream = trace.is_open() ? &trace : nullptr;
    // A terminal gets the full-screen window; one without a usable terminal
    // description gets the line-oriented view.
    std::unique_ptr<CursesPlatform> window;
    if (terminal) window = CursesPlatform::Open(*clock);
    if (window) {
      outcome = RunOnPlatform(options, *window, true, trace_stream, err);
    } else if (terminal) {
      TerminalPlatform platform(*clock);
      outcome = RunOnPlatform(options, platform, true, trace_stream, err);
    } else {
      HeadlessPlatform platform(*clock, out, options.answers);
      platform.set_echo_screen(options.show_screen);
      // At a real instrument nobody at this end can press a button.
      if (!options.bus.simulated()) {
        platform.SayWhenWaiting(err, std::string(kProgramName) +
                                         ": waiting for a bezel button to be pressed on the "
                                         "instrument");
      }
      outcome = RunOnPlatform(options, platform, false, trace_stream, err);
      // What the instrument showed last, unless every change was printed.
      if (!options.show_screen) platform.PrintScreen();
    }
  } catch (const ProgramEnd& end) {
    // Ended while the bench was being built or taken down.
    outcome.code = end.code;
    outcome.message = end.message;
  } catch (const std::exception& error) {
    outcome.code = kExitFatal;
    outcome.message = std::string("error: ") + error.what();
  }
  out.flush();
  if (!outcome.reason.empty()) err << kProgramName << ": " << outcome.reason << "\n";
  if (!outcome.message.empty()) err << kProgramName << ": " << outcome.message << "\n";
  return outcome.code;
}

}  // namespace kc
