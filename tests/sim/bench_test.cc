// The test bench: the program's start-up against the simulated bus, and the
// bench's own checks of its options.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sim/sim_devices.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

using Stream = std::vector<std::string>;

BenchOptions Options(const std::string& model, int address, const std::string& script,
                     const Stream& extra = {}) {
  BenchOptions options;
  options.model = model;
  options.address = address;
  options.operator_script = script;
  options.extra_devices = extra;
  return options;
}

TEST(CheckoutBench, StartUpAsksEveryCandidateForItsIdentity) {
  CheckoutBench bench(Options("2430A", 1, "", {"5=silent"}));
  ASSERT_TRUE(bench.Load());
  EXPECT_EQ(bench.form().ModelText, "2430A");
  // The search for "244" asks the scope and the silent listener, the search
  // for "243" asks the scope again, then the identity is read once more; the
  // menu's preparation follows.
  EXPECT_EQ(bench.received(), (Stream{"ID?", "ID?", "ID?", "INIT GPI;PATH OFF;USE;BELL", "EVE?"}));
  auto* silent = dynamic_cast<SilentListener*>(bench.bus().device(5));
  ASSERT_NE(silent, nullptr);
  EXPECT_EQ(silent->received(), (Stream{"ID?"}));
  bench.ClearReceived();
  EXPECT_EQ(bench.received(), Stream{});
}

TEST(CheckoutBench, AScriptThatRunsOutEndsTheRunWithItsOwnCode) {
  CheckoutBench bench(Options("2440", 4, ""));
  EXPECT_EQ(bench.Run(), kExitOperatorDone);
  EXPECT_EQ(bench.end_message(),
            "The simulated technician's script ran out while the program waited for a bezel "
            "button.");
  // The program got as far as the main menu's first wait.
  ASSERT_FALSE(bench.received().empty());
  EXPECT_EQ(bench.received().front(), "ID?");
  EXPECT_EQ(bench.scope().errors(), Stream{});
}

TEST(CheckoutBench, RejectsBadDevicesClashingAddressesAndBadScripts) {
  EXPECT_THROW(CheckoutBench(Options("2440", 1, "", {"1=silent"})), std::invalid_argument);
  EXPECT_THROW(CheckoutBench(Options("2440", 1, "", {"5=silent", "5=id:X"})),
               std::invalid_argument);
  EXPECT_THROW(CheckoutBench(Options("2440", 1, "", {"40=silent"})), std::invalid_argument);
  EXPECT_THROW(CheckoutBench(Options("2440", 1, "b9")), std::invalid_argument);
}

}  // namespace
}  // namespace kc

namespace kc {
namespace {

TEST(ScriptPatience, AProgramThatOnlyPollsEndsTheRunInsteadOfPollingForEver) {
  // The attenuator adjustment polls the event register without waiting for a
  // button: an undelayed step is never done there.
  CheckoutBench waiting(Options("2440", 1, "b1,b1,b1", {}));
  EXPECT_EQ(waiting.Run(), kExitOperatorDone);
  EXPECT_NE(waiting.end_message().find("next step (b1)"), std::string::npos)
      << waiting.end_message();
  EXPECT_NE(waiting.end_message().find("b1@3"), std::string::npos);
  EXPECT_GT(waiting.platform().virtual_clock().Elapsed(), 600);

  CheckoutBench ran_out(Options("2440", 1, "b1,b1", {}));
  EXPECT_EQ(ran_out.Run(), kExitOperatorDone);
  EXPECT_NE(ran_out.end_message().find("ran out"), std::string::npos);

  // Delayed steps end both adjustment loops; QUIT follows.
  CheckoutBench delayed(Options("2440", 1, "b1,b1,b1@3,b1,b1@3,b5", {}));
  EXPECT_EQ(delayed.Run(), kExitClosed);
}

}  // namespace
}  // namespace kc
