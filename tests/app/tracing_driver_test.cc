// The driver trace over the simulated bus: one line per call with its
// arguments, outcome and data, the caller seeing the inner driver's outcome.
#include "link/tracing_driver.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "link/gpib_binding.h"
#include "sim/sim_bus.h"
#include "sim/sim_devices.h"
#include "sim/sim_scope.h"
#include "support/test_platform.h"

namespace kc {
namespace {

TEST(TracingDriver, OneLinePerCallWithArgumentsOutcomeAndData) {
  TestPlatform platform;  // 09:00:00, 32400 s after midnight; stamps at each call's start
  SimBus bus(platform);
  bus.Attach(7, std::make_unique<SimScope>("2440", platform.clock()));
  bus.Attach(5, std::make_unique<SilentListener>());
  std::ostringstream trace;
  TracingDriver tracer(bus, platform.clock(), trace);
  GpibBinding gpib(tracer);

  Integer pads[] = {1, 2, 3, 5, 7, static_cast<Integer>(gpib::NOADDR)};
  Integer found[16] = {};
  gpib.FindLstn(0, pads, found, 15);
  Integer ud = gpib.ibdev(0, 7, 0, gpib::T1s, 1, 0);
  gpib.ibwrt(ud, "ID?");
  platform.virtual_clock().Pass(0.1);
  std::string buffer(8, ' ');
  gpib.ibrd(ud, buffer);
  // The caller sees the inner outcome.
  EXPECT_EQ(buffer, "ID AB/24");
  EXPECT_EQ(gpib.ibsta, gpib::CMPL);
  EXPECT_EQ(gpib.ibcntl, 8);
  Integer value = 0;
  gpib.ibask(ud, gpib::IbaTMO, value);
  EXPECT_EQ(value, gpib::T1s);
  gpib.ibwrt(ud, "MESS 9:\"\\;V ok\"\r");
  gpib.ibpad(ud, 5);
  gpib.ibwrt(ud, "ID?");
  gpib.ibrd(ud, buffer);
  EXPECT_EQ(gpib.ibsta, GpibBinding::Narrow(gpib::ERR | gpib::TIMO));
  EXPECT_EQ(gpib.iberr, gpib::EABO);

  EXPECT_EQ(trace.str(),
            "32400.000 RegisterGpibGlobalsForThread -> 0\n"
            "32400.000 FindLstn(0, [1-3 5 7], 15) -> ibsta 0x0100 iberr 0 ibcnt 2 found [5 7]\n"
            "32400.000 ibdev(0, 7, 0, 11, 1, 0) -> ibsta 0x0100 iberr 0 ibcnt 0 ud 1\n"
            "32400.000 ibwrt(1, 3) -> ibsta 0x0100 iberr 0 ibcnt 3 data \"ID?\"\n"
            "32400.100 ibrd(1, 8) -> ibsta 0x0100 iberr 0 ibcnt 8 data \"ID AB/24\"\n"
            "32400.100 ibask(1, 3) -> ibsta 0x0100 iberr 0 ibcnt 0 value 11\n"
            "32400.100 ibwrt(1, 16) -> ibsta 0x0100 iberr 0 ibcnt 16 data "
            "\"MESS 9:\"\\;V ok\"\\r\"\n"
            "32400.100 ibpad(1, 5) -> ibsta 0x0100 iberr 0 ibcnt 0\n"
            "32400.100 ibwrt(1, 3) -> ibsta 0x0100 iberr 0 ibcnt 3 data \"ID?\"\n"
            "32400.100 ibrd(1, 8) -> ibsta 0xC000 iberr 6 ibcnt 0 data \"\"\n");
}

TEST(TracingDriver, OnlyControlAndNonAsciiBytesAreEscaped) {
  const char data[] = "A\x01\n\r\t\x7f\xe9\\\"~ Z";
  EXPECT_EQ(TracingDriver::EscapeData(data, sizeof data - 1), "A\\x01\\n\\r\\x09\\x7F\\xE9\\\"~ Z");
  const char zero[] = {'x', '\0', 'y'};
  EXPECT_EQ(TracingDriver::EscapeData(zero, 3), "x\\x00y");
}

}  // namespace
}  // namespace kc
