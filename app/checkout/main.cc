// kalventa-checkout: the guided performance checkout of a 2430-family
// oscilloscope. See --help.
#include <iostream>

#include "app/checkout/options.h"
#include "app/checkout/runner.h"

int main(int argc, char** argv) {
  kc::Options options;
  int status = kc::ParseOptions(argc, argv, options, std::cout, std::cerr);
  if (status >= 0) return status;
  return kc::RunCheckout(options, std::cout, std::cerr);
}
