#include "app/checkout/runner.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/checkout/tui/curses_platform.h"
#include "app/checkout/tui/front_panel_link.h"
#include "link/gpib_binding.h"
#include "link/instrument_ops.h"
#include "link/message_mirror.h"
#include "link/tracing_driver.h"
#include "platform/clock.h"
#include "platform/exit_codes.h"
#include "platform/headless_platform.h"
#include "platform/terminal_platform.h"
#include "record/record_folder.h"
#include "record/run_recorder.h"
#include "shell/main_form.h"
#include "sim/bench_options.h"
#include "sim/rig.h"

namespace kc {

namespace {

struct Outcome {
  int code = kExitClosed;
  std::string message;
  // Why a fatal end came, when the bus back end said so only in the window.
  std::string reason;
};

}  // namespace

namespace {

// The driver of a real bus: a Prologix or AR488 adapter, or a linux-gpib
// board. The adapter's fault lines go to `err`, or under the full-screen
// window to its notice line.
std::unique_ptr<GpibDriver> MakeRealDriver(const BusName& bus, Platform& platform,
                                           CursesPlatform* window, std::ostream& err) {
  BusEnv env{platform, [&err, window](const std::string& line) {
               if (window != nullptr)
                 window->ShowNote(line);
               else
                 err << kProgramName << ": " << line << std::endl;
             }};
  return BusRegistry::Builtin().Make(bus, env);
}

// How a check still running when the program ends with `code` ended: by a
// GPIB error box on a fatal end; otherwise the program ended under it (a
// close request, a technician's script that ran out). A check that showed
// its last screen has been filed as completed already.
CheckEnding EndingAt(int code) {
  return code == kExitFatal ? CheckEnding::kGpibError : CheckEnding::kProgramClosed;
}

// The run's record, when one is kept: in its folder, with the serial number
// and technician given. Warnings and where the record went are told on
// `err`, or under the full-screen window on its notice line.
std::unique_ptr<RunRecorder> MakeRecorder(const Options& options, Clock& clock,
                                          CursesPlatform* window, std::ostream& err) {
  if (options.no_record) return nullptr;
  auto tell = [&err, window](const std::string& line) {
    if (window != nullptr)
      window->ShowNote(line);
    else
      err << kProgramName << ": " << line << std::endl;
  };
  std::filesystem::path folder = options.record_dir.empty()
                                     ? DefaultRecordFolder()
                                     : std::filesystem::path(options.record_dir);
  if (folder.empty()) {
    tell(
        "checkout record not saved: no folder for it (neither XDG_DATA_HOME nor HOME is set; "
        "give --record-dir)");
  }
  auto recorder = std::make_unique<RunRecorder>(
      folder, kProgramVersion, TimesFromClock(NowLocal(), [&clock] { return clock.Elapsed(); }),
      tell);
  // The window says where the record went on its own status line.
  if (window == nullptr) {
    recorder->set_filed_sink([tell](const std::filesystem::path& file) {
      tell("checkout record saved: " + file.string());
    });
  }
  recorder->SetSerial(options.serial);
  recorder->SetTechnician(options.technician);
  return recorder;
}

// `window` is the full-screen window when `platform` is one.
Outcome RunOnPlatform(const Options& options, Platform& platform, CursesPlatform* window,
                      bool terminal, std::ostream* trace, std::ostream& err) {
  std::unique_ptr<SimRig> rig;
  std::unique_ptr<FrontPanelLink> panel;
  std::unique_ptr<GpibDriver> real_bus;
  GpibDriver* driver = nullptr;
  if (options.bus.simulated()) {
    rig = std::make_unique<SimRig>(RigSetupFor(options, terminal), platform);
    // The full-screen window draws the instrument's front panel.
    if (window != nullptr) {
      panel = std::make_unique<FrontPanelLink>(*window, rig->bus(), rig->scope(), rig->address(),
                                               &rig->sources());
    }
    driver = &rig->bus();
  } else {
    real_bus = MakeRealDriver(options.bus, platform, window, err);
    driver = real_bus.get();
  }
  // The window mirrors the message lines written to a real instrument.
  std::unique_ptr<MessageMirror> mirror;
  if (!options.bus.simulated()) {
    if (window != nullptr) window->ShowMirror();
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
  std::unique_ptr<RunRecorder> recorder = MakeRecorder(options, platform.clock(), window, err);
  MainForm form(ops);
  form.recorder = recorder.get();
  form.BusText = options.bus.text;
  form.sequence_list = options.sequence;
  // While a record is kept the window asks, before the intro, for what the
  // command line left out; then R shows the results so far and the status
  // line where the record was saved after each check.
  if (window != nullptr && recorder && recorder->enabled()) {
    RunRecorder* kept = recorder.get();
    std::string serial = options.serial;
    std::string technician = options.technician;
    window->AskIdentity(serial, technician);
    kept->SetSerial(serial);
    kept->SetTechnician(technician);
    window->SetResultsSource(
        [kept] { return kept->started() ? &kept->record() : nullptr; },
        [kept] { return kept->saved() ? kept->file() : std::filesystem::path(); });
  }
  Outcome outcome;
  try {
    form.Run();
  } catch (const ProgramEnd& end) {
    outcome.code = end.code;
    outcome.message = end.message;
  }
  if (recorder) recorder->EndRun(EndingAt(outcome.code));
  if (window != nullptr) window->SetResultsSource(nullptr, nullptr);
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
      outcome = RunOnPlatform(options, *window, window.get(), true, trace_stream, err);
    } else if (terminal) {
      TerminalPlatform platform(*clock);
      outcome = RunOnPlatform(options, platform, nullptr, true, trace_stream, err);
    } else {
      HeadlessPlatform platform(*clock, out, options.answers);
      platform.set_echo_screen(options.show_screen);
      // At a real instrument nobody at this end can press a button.
      if (!options.bus.simulated()) {
        platform.SayWhenWaiting(err, std::string(kProgramName) +
                                         ": waiting for a bezel button to be pressed on the "
                                         "instrument");
      }
      outcome = RunOnPlatform(options, platform, nullptr, false, trace_stream, err);
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
