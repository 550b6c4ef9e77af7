#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/gpib_binding.h"
#include "support/fake_driver.h"

namespace kc {
namespace {

using fakes::Error;
using fakes::FakeDriver;
using fakes::Reply;
using fakes::Value;
using Calls = std::vector<std::string>;

// Every wrapper registers the status cells when it is the first call, and no
// later call registers again.
TEST(GpibBindingTest, EveryCallRegistersFirstAndOnlyOnce) {
  Integer spare = 0;
  std::string buffer(4, ' ');
  const Integer pads[] = {1, -1};
  Integer found[2] = {};
  const std::vector<std::pair<const char*, std::function<void(GpibBinding&)>>> calls = {
      {"SendIFC(0)", [](GpibBinding& g) { g.SendIFC(0); }},
      {"ibsre(0,1)", [](GpibBinding& g) { g.ibsre(0, 1); }},
      {"FindLstn(0,[0x1,0xFFFF],2)", [&](GpibBinding& g) { g.FindLstn(0, pads, found, 2); }},
      {"ibdev(0,1,0,11,1,0)", [](GpibBinding& g) { g.ibdev(0, 1, 0, 11, 1, 0); }},
      {"ibpad(32,5)", [](GpibBinding& g) { g.ibpad(32, 5); }},
      {"ibclr(32)", [](GpibBinding& g) { g.ibclr(32); }},
      {"ibrsp(32)", [&](GpibBinding& g) { g.ibrsp(32, spare); }},
      {"ibwrt(32,\"ID?\")", [](GpibBinding& g) { g.ibwrt(32, "ID?"); }},
      {"ibrd(32,4)", [&](GpibBinding& g) { g.ibrd(32, buffer); }},
      {"ibtmo(32,12)", [](GpibBinding& g) { g.ibtmo(32, 12); }},
      {"ibask(32,3)", [&](GpibBinding& g) { g.ibask(32, gpib::IbaTMO, spare); }},
      {"ibwait(32,0x800)", [](GpibBinding& g) { g.ibwait(32, gpib::RQS); }},
  };
  for (const auto& [call, make] : calls) {
    SCOPED_TRACE(call);
    FakeDriver driver;
    GpibBinding gpib(driver);
    EXPECT_FALSE(gpib.registered());
    make(gpib);
    make(gpib);
    EXPECT_EQ(driver.calls, (Calls{"Register", call, call}));
    EXPECT_TRUE(gpib.registered());
  }
}

TEST(GpibBindingTest, RegistrationResults) {
  struct Case {
    std::deque<int> results;
    Calls calls;
    bool registered;
  };
  const Case cases[] = {
      // Registered before: unregistered and registered again.
      {{1, 1}, {"Register", "Unregister", "Register", "ibwrt(32,\"ID?\")"}, true},
      {{2}, {"Register", "Unregister", "ibwrt(32,\"ID?\")"}, false},
      {{3}, {"Register", "Unregister", "ibwrt(32,\"ID?\")"}, false},
      {{4}, {"Register", "ibwrt(32,\"ID?\")"}, false},
      {{-1}, {"Register", "ibwrt(32,\"ID?\")"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.results.front());
    FakeDriver driver;
    driver.register_results = c.results;
    GpibBinding gpib(driver);
    gpib.ibwrt(32, "ID?");
    EXPECT_EQ(driver.calls, c.calls);
    EXPECT_EQ(gpib.registered(), c.registered);
    if (!c.registered) {
      // The call was still made; the cells show the failed registration.
      EXPECT_EQ(gpib.ibsta, static_cast<Integer>(0x8000));
      EXPECT_EQ(gpib.iberr, gpib::EDVR);
      EXPECT_EQ(gpib.ibcntl, static_cast<Long>(0xDEAD37F0u));
      EXPECT_EQ(gpib.ibcnt, 0x37F0);
    }
    // The next call registers (again), now with success, and reports truly.
    driver.Clear();
    gpib.ibwrt(32, "ID?");
    EXPECT_EQ(driver.calls.size(), c.registered ? 1u : 2u);
    EXPECT_EQ(gpib.ibsta, gpib::CMPL);
    EXPECT_EQ(gpib.ibcntl, 3);
  }
}

TEST(GpibBindingTest, CellsAreNarrowedToSixteenBitsWithBitFifteenTheSign) {
  EXPECT_EQ(GpibBinding::Narrow(0x8000), -32768);
  EXPECT_EQ(GpibBinding::Narrow(0x12345), 0x2345);
  EXPECT_EQ(GpibBinding::Narrow(0xFFFF), -1);
  EXPECT_EQ(GpibBinding::Narrow(0x7FFF), 32767);
  EXPECT_EQ(GpibBinding::Narrow(0x18001), -32767);

  FakeDriver driver;
  GpibBinding gpib(driver);
  driver.Script("ibpad", fakes::Outcome{0x12345, 0x18006, {}, 0, {}});
  gpib.ibpad(32, 1);
  EXPECT_EQ(gpib.ibsta, 0x2345);
  EXPECT_EQ(gpib.iberr, -32762);
  // Byte counts beyond 16 bits: ibcntl keeps them, ibcnt has the low bits.
  for (long size : {0x12345L, 0x8000L}) {
    std::string buffer(static_cast<std::size_t>(size), ' ');
    driver.Script("ibrd", Reply(std::string(static_cast<std::size_t>(size), 'x')));
    gpib.ibrd(32, buffer);
    EXPECT_EQ(gpib.ibcntl, size);
    EXPECT_EQ(gpib.ibcnt, GpibBinding::Narrow(static_cast<std::int32_t>(size)));
  }
  EXPECT_EQ(gpib.ibcnt, -32768);
}

TEST(GpibBindingTest, TextsAndBuffersPassWhole) {
  FakeDriver driver;
  GpibBinding gpib(driver);
  const std::string command = std::string("MESS 9:\"\\B5 TEST\xB5\"") + '\0' + "X";
  gpib.ibwrt(7, command);
  EXPECT_EQ(driver.written, Calls{command});

  // A read fills the buffer from its start and keeps its length.
  std::string buffer(10, ' ');
  driver.Script("ibrd", Reply("AB\r\n"));
  gpib.ibrd(7, buffer);
  EXPECT_EQ(buffer, "AB\r\n      ");
  EXPECT_EQ(driver.buffers_seen.back(), std::string(10, ' '));
  std::string small(4, ' ');
  driver.Script("ibrd", Reply("ABCDEFG", gpib::CMPL));
  gpib.ibrd(7, small);
  EXPECT_EQ(small, "ABCD");

  // The serial poll byte is unsigned; a poll that delivers nothing leaves
  // the blank of the buffer.
  Integer poll = -5;
  driver.Script("ibrsp", Reply("\xC1"));
  gpib.ibrsp(7, poll);
  EXPECT_EQ(poll, 193);
  driver.Script("ibrsp", Error(gpib::EABO, gpib::ERR | gpib::TIMO));
  gpib.ibrsp(7, poll);
  EXPECT_EQ(poll, 32);
  EXPECT_EQ(gpib.ibsta, static_cast<Integer>(gpib::ERR | gpib::TIMO));
  EXPECT_EQ(gpib.iberr, gpib::EABO);

  driver.Script("ibdev", Value(17));
  EXPECT_EQ(gpib.ibdev(0, 1, 0, 11, 1, 0), 17);
  Integer timeout = 0;
  driver.Script("ibask", Value(11));
  gpib.ibask(17, gpib::IbaTMO, timeout);
  EXPECT_EQ(timeout, 11);
}

TEST(GpibBindingTest, FindLstnConvertsTheListAndKeepsUnfilledResults) {
  FakeDriver driver;
  GpibBinding gpib(driver);
  const Integer pads[] = {0, 3, 17, -1, 99};  // 99 lies beyond the terminator
  Integer results[5] = {-7, -7, -7, -7, 123};
  driver.Script("FindLstn", fakes::Found({0, 17}));
  gpib.FindLstn(0, pads, results, 4);
  EXPECT_EQ(driver.calls, (Calls{"Register", "FindLstn(0,[0x0,0x3,0x11,0xFFFF],4)"}));
  EXPECT_EQ((std::vector<Integer>(results, results + 5)),
            (std::vector<Integer>{0, 17, -7, -7, 123}));
  EXPECT_EQ(gpib.ibcntl, 2);
}

}  // namespace
}  // namespace kc
