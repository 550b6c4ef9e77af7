#include "platform/command_line.h"

#include <CLI/CLI.hpp>

#include "platform/platform.h"

namespace kc {

int UsageError(const char* program, const std::string& message, std::ostream& err) {
  err << program << ": " << message << "\n"
      << "Run with --help for more information.\n";
  return kExitUsage;
}

int ParseCommandLine(CLI::App& app, int argc, const char* const* argv, const char* program,
                     std::ostream& out, std::ostream& err) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForVersion& version) {
    out << version.what() << "\n";
    return 0;
  } catch (const CLI::ParseError& error) {
    return UsageError(program, error.what(), err);
  }
  return -1;
}

}  // namespace kc
