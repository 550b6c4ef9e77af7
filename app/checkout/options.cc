#include "app/checkout/options.h"

#include <CLI/CLI.hpp>
#include <cctype>

#include "platform/text.h"
#include "shell/sequence.h"

namespace kc {

namespace {

// The checks of a full checkout, comma-separated and wrapped to the help's width.
std::string JoinedCheckout() {
  std::string text;
  std::size_t line_start = 0;
  for (const std::string& name : FullCheckout()) {
    if (!text.empty()) {
      text += ",";
      if (text.size() - line_start + name.size() > 72) {
        text += "\n  ";
        line_start = text.size() - 2;
      } else {
        text += " ";
      }
    }
    text += name;
  }
  return text;
}

std::string HelpFooter() {
  std::string footer = BusHelp();
  footer += "\n" + FaultOptionHelp();
  footer +=
      "\n"
      "Without a terminal on standard input and output the run is headless: the\n"
      "window's caption, hint, intro and every message box are written to standard\n"
      "output as tagged lines, boxes are answered from --answers (then OK/Cancel\n"
      "boxes get Cancel, verdict boxes Not judged), and the instrument's last screen\n"
      "is printed at the end.\n"
      "\n"
      "Every run keeps a checkout record (JSON), replaced after each check, in\n"
      "$XDG_DATA_HOME/kalventa-checkout/records unless --record-dir or --no-record\n"
      "say otherwise; a check judged by eye asks for the technician's verdict.\n"
      "\n"
      "--sequence runs the checks one after another, each started as if chosen\n"
      "from the menu; without a LIST every check, in the order of a full\n"
      "performance checkout:\n"
      "  " +
      JoinedCheckout() +
      "\n"
      "(ccd-cte and pos-effect name the same menu entry). MENU OFF twice in a check\n"
      "asks whether to skip it (OK) or stop (Cancel); a box sums up at the end.\n"
      "\n"
      "kalventa-checkout report [RECORD.json ...] prints a checkout record's certificate\n"
      "(text, CSV or PDF; kalventa-checkout report --help).\n"
      "\n"
      "Exit status:\n"
      "  0  the program closed (QUIT, MENU OFF twice in the menu)\n"
      "  1  start-up failure, Cancel in a GPIB error box, instrument not found\n"
      "  2  bad command line (nothing was sent on any bus)\n"
      "  3  the simulated technician's script ran out\n"
      "  4  interrupted: the window was closed and the closing sequence ran\n"
      "     (Ctrl-C, the terminal closed, the close mark)\n"
      "  130  interrupted a second time while closing\n";
  return footer;
}

}  // namespace

std::variant<std::vector<MsgAnswer>, std::string> ParseAnswers(const std::string& text) {
  std::vector<MsgAnswer> answers;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    std::string item = Lower(text.substr(start, comma - start));
    if (item == "ok") {
      answers.push_back(MsgAnswer::kOk);
    } else if (item == "cancel") {
      answers.push_back(MsgAnswer::kCancel);
    } else if (item == "pass") {
      answers.push_back(MsgAnswer::kPass);
    } else if (item == "fail") {
      answers.push_back(MsgAnswer::kFail);
    } else if (item == "not-judged") {
      answers.push_back(MsgAnswer::kNotJudged);
    } else {
      return "bad answer \"" + item +
             "\" in --answers: use ok, cancel, pass, fail or not-judged, separated by commas";
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return answers;
}

int ParseOptions(int argc, const char* const* argv, Options& options, std::ostream& out,
                 std::ostream& err) {
  CLI::App app{"Kalventa Checkout: guided performance checkout of a 2430-family oscilloscope",
               kProgramName};
  AddBenchOptions(app, options);
  app.add_option_function<std::string>(
      "--answers",
      [&options](const std::string& text) {
        auto answers = ParseAnswers(text);
        if (auto* message = std::get_if<std::string>(&answers))
          throw CLI::ValidationError(*message);
        options.answers = std::get<std::vector<MsgAnswer>>(answers);
      },
      "Answers for the message boxes in order, such as ok,cancel; pass, fail or not-judged "
      "for the technician's verdict on a check judged by eye");
  app.add_flag("--virtual-time", options.virtual_time,
               "Run on a virtual clock: waits pass at once");
  app.add_option("--trace", options.trace_file, "Write every driver call to FILE");
  app.add_option_function<std::string>(
         "--sequence",
         [&options](const std::string& text) {
           if (text.empty()) return;  // no list: the full checkout, below
           auto names = ParseSequenceList(text);
           if (auto* message = std::get_if<std::string>(&names))
             throw CLI::ValidationError("--sequence", *message);
           options.sequence = std::get<std::vector<std::string>>(names);
         },
         "Run the checks of LIST (menu names, comma-separated) in one go; all without LIST")
      ->expected(0, 1)
      ->type_name("[LIST]");
  app.add_flag("--show-screen", options.show_screen,
               "Without a terminal: print the instrument screen after every change");
  app.add_option("--serial", options.serial,
                 "The instrument's serial number, for the checkout record");
  app.add_option("--technician", options.technician, "The technician's name, for the record");
  auto* record_dir = app.add_option("--record-dir", options.record_dir,
                                    "Keep the checkout record in DIR instead of "
                                    "$XDG_DATA_HOME/kalventa-checkout/records");
  app.add_flag("--no-record", options.no_record, "Keep no checkout record")->excludes(record_dir);
  app.set_version_flag("--version", std::string(kProgramName) + " " + kProgramVersion,
                       "Print the version and exit");
  app.footer(HelpFooter());

  auto usage_error = [&](const std::string& message) {
    return UsageError(kProgramName, message, err);
  };
  if (int status = ParseCommandLine(app, argc, argv, kProgramName, out, err); status >= 0) {
    return status;
  }

  std::string problem = TakeBenchOptions(app, options);
  if (!problem.empty()) return usage_error(problem);
  // Given without a list: the full checkout.
  if (app.count("--sequence") > 0 && options.sequence.empty()) options.sequence = FullCheckout();
  if (app.count("--trace") > 0 && options.trace_file.empty())
    return usage_error("--trace needs a file name");
  if (app.count("--record-dir") > 0 && options.record_dir.empty())
    return usage_error("--record-dir needs a folder name");
  return -1;
}

}  // namespace kc
