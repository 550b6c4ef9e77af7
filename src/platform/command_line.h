// What both programs' command lines share: the version, the usage error and
// the parse with its --help and --version.
#pragma once

#include "kc_version.h"

#include <ostream>
#include <string>

namespace CLI {
class App;
}  // namespace CLI

namespace kc {

inline constexpr const char* kProgramVersion = kVersion;

// A usage error of `program`: the message and a hint on --help to `err`;
// kExitUsage.
int UsageError(const char* program, const std::string& message, std::ostream& err);
// Parses the command line with `app`. -1 when the program should go on;
// otherwise the exit status: 0 after --help or --version (printed to `out`),
// kExitUsage after a usage error on `err`.
int ParseCommandLine(CLI::App& app, int argc, const char* const* argv, const char* program,
                     std::ostream& out, std::ostream& err);

}  // namespace kc
