#include "link/tracing_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "link/gpib_binding.h"

namespace kc {
namespace {

// An inner driver with fixed answers: one listener at 7, an identification
// reply with a line end, a status byte, a wait that times out.
class CannedDriver : public GpibDriverBase {
 public:
  explicit CannedDriver(VirtualClock& clock) : clock_(clock) {}

  void SendIFC(int) override { Report(gpib::CMPL, 0, 0); }
  int ibsre(int, int) override { return Report(gpib::CMPL, 0, 0); }
  void FindLstn(int, const Addr4882_t*, Addr4882_t* results, int) override {
    results[0] = 7;
    results[1] = gpib::NOADDR;
    Report(gpib::CMPL, 0, 1);
  }
  int ibdev(int, int, int, int, int, int) override {
    Report(gpib::CMPL, 0, 0);
    return 1;
  }
  int ibpad(int, int) override { return Report(gpib::CMPL, 0, 0); }
  int ibclr(int) override { return Report(gpib::CMPL, 0, 0); }
  int ibrsp(int, char* spr) override {
    *spr = 0x41;
    return Report(gpib::CMPL, 0, 1);
  }
  int ibwrt(int, const void* buf, long count) override {
    written.assign(static_cast<const char*>(buf), static_cast<std::size_t>(count));
    return Report(gpib::CMPL, 0, count);
  }
  int ibrd(int, void* buf, long count) override {
    static const char kReply[] = "ID:TEK/2440,V81.1\r\n";
    long n = std::min<long>(count, sizeof kReply - 1);
    std::memcpy(buf, kReply, static_cast<std::size_t>(n));
    clock_.Pass(0.0126);
    return Report(gpib::END | gpib::CMPL, 0, n);
  }
  int ibtmo(int, int) override { return Report(gpib::CMPL, 0, 0); }
  int ibask(int, int, int* value) override {
    *value = 11;
    return Report(gpib::CMPL, 0, 0);
  }
  int ibwait(int, int) override {
    clock_.Pass(3);
    return Report(gpib::ERR | gpib::TIMO | gpib::CMPL, gpib::EABO, 0);
  }

  std::string written;

 private:
  VirtualClock& clock_;
};

class TracingDriverTest : public ::testing::Test {
 protected:
  VirtualClock clock_{9 * 3600.0};
  CannedDriver inner_{clock_};
  std::ostringstream trace_;
  TracingDriver tracer_{inner_, clock_, trace_};
  GpibBinding gpib_{tracer_};
};

TEST_F(TracingDriverTest, OneLinePerCallWithArgumentsOutcomeAndData) {
  Integer pads[] = {1, 2, 3, 5, 7, static_cast<Integer>(gpib::NOADDR)};
  Integer found[16] = {};
  gpib_.SendIFC(0);
  gpib_.FindLstn(0, pads, found, 15);
  Integer ud = gpib_.ibdev(0, 7, 0, 11, 1, 0);
  gpib_.ibwrt(ud, "MESS 9:\"\\;V ok\"");
  clock_.Pass(0.1);
  std::string buffer(32, ' ');
  gpib_.ibrd(ud, buffer);
  Integer spr = 0;
  gpib_.ibrsp(ud, spr);
  Integer value = 0;
  gpib_.ibask(ud, gpib::IbaTMO, value);
  gpib_.ibwait(ud, gpib::RQS);

  EXPECT_EQ(trace_.str(),
            "32400.000 RegisterGpibGlobalsForThread -> 0\n"
            "32400.000 SendIFC(0) -> ibsta 0x0100 iberr 0 ibcnt 0\n"
            "32400.000 FindLstn(0, [1-3 5 7], 15) -> ibsta 0x0100 iberr 0 ibcnt 1 found [7]\n"
            "32400.000 ibdev(0, 7, 0, 11, 1, 0) -> ibsta 0x0100 iberr 0 ibcnt 0 ud 1\n"
            "32400.000 ibwrt(1, 15) -> ibsta 0x0100 iberr 0 ibcnt 15 data \"MESS 9:\"\\;V ok\"\"\n"
            "32400.100 ibrd(1, 32) -> ibsta 0x2100 iberr 0 ibcnt 19 data "
            "\"ID:TEK/2440,V81.1\\r\\n\"\n"
            "32400.113 ibrsp(1) -> ibsta 0x0100 iberr 0 ibcnt 1 spr 0x41\n"
            "32400.113 ibask(1, 3) -> ibsta 0x0100 iberr 0 ibcnt 0 value 11\n"
            "32400.113 ibwait(1, 0x0800) -> ibsta 0xC100 iberr 6 ibcnt 0\n");
  EXPECT_EQ(inner_.written, "MESS 9:\"\\;V ok\"");
}

TEST_F(TracingDriverTest, TheCallerSeesTheInnerOutcome) {
  Integer ud = gpib_.ibdev(0, 7, 0, 11, 1, 0);
  std::string buffer(8, ' ');
  gpib_.ibrd(ud, buffer);
  EXPECT_EQ(buffer, "ID:TEK/2");
  EXPECT_EQ(gpib_.ibsta, gpib::END | gpib::CMPL);
  EXPECT_EQ(gpib_.ibcnt, 8);
  EXPECT_EQ(gpib_.ibcntl, 8);
  gpib_.ibwait(ud, gpib::RQS);
  // 0xC100 read as a 16-bit status.
  EXPECT_EQ(gpib_.ibsta, GpibBinding::Narrow(gpib::ERR | gpib::TIMO | gpib::CMPL));
  EXPECT_EQ(gpib_.iberr, gpib::EABO);
  // The inner driver was given the tracer's own cells, registered once.
  EXPECT_EQ(trace_.str().find("RegisterGpibGlobalsForThread"),
            trace_.str().rfind("RegisterGpibGlobalsForThread"));
}

TEST(TracingDriverEscape, OnlyControlAndNonAsciiBytesAreEscaped) {
  const char data[] = "A\x01\n\r\t\x7f\xe9\\\"~ Z";
  EXPECT_EQ(TracingDriver::EscapeData(data, sizeof data - 1), "A\\x01\\n\\r\\x09\\x7F\\xE9\\\"~ Z");
  const char zero[] = {'x', '\0', 'y'};
  EXPECT_EQ(TracingDriver::EscapeData(zero, 3), "x\\x00y");
}

}  // namespace
}  // namespace kc
