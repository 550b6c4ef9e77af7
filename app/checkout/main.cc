// kalventa-checkout: the guided performance checkout of a 2430-family
// oscilloscope, and (`kalventa-checkout report ...`) the certificate of a
// checkout record. See --help.
#include <iostream>
#include <string_view>

#include "app/checkout/options.h"
#include "app/checkout/report_command.h"
#include "app/checkout/runner.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "report")
    return kc::RunReportCommand(argc - 1, argv + 1, std::cout, std::cerr);
  kc::Options options;
  int status = kc::ParseOptions(argc, argv, options, std::cout, std::cerr);
  if (status >= 0) return status;
  return kc::RunCheckout(options, std::cout, std::cerr);
}
