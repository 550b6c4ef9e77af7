#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/fake_driver.h"
#include "link/gpib_binding.h"

namespace kc {
namespace {

using linktest::Error;
using linktest::FakeDriver;
using linktest::Ok;
using linktest::Reply;
using linktest::Value;
using Calls = std::vector<std::string>;

constexpr Integer kErrBit = static_cast<Integer>(0x8000);

TEST(GpibBindingRegistration, FirstCallRegistersOnceAndLaterCallsDoNot) {
  FakeDriver driver;
  GpibBinding gpib(driver);
  EXPECT_FALSE(gpib.registered());
  driver.Script("ibpad", Error(gpib::EARG));
  gpib.ibpad(32, 5);
  gpib.ibclr(32);
  EXPECT_EQ(driver.calls, (Calls{"Register", "ibpad(32,5)", "ibclr(32)"}));
  EXPECT_TRUE(gpib.registered());
  // The cells are the driver's: the status of the last call shows.
  EXPECT_EQ(gpib.ibsta, gpib::CMPL);
  EXPECT_EQ(gpib.iberr, 0);
}

TEST(GpibBindingRegistration, RegisteredBeforeUnregistersAndRegistersAgain) {
  FakeDriver driver;
  driver.register_results = {1, 1};  // the second answer is not looked at
  GpibBinding gpib(driver);
  driver.Script("ibpad", Error(gpib::EARG));
  gpib.ibpad(32, 5);
  gpib.ibclr(32);
  EXPECT_EQ(driver.calls,
            (Calls{"Register", "Unregister", "Register", "ibpad(32,5)", "ibclr(32)"}));
  EXPECT_TRUE(gpib.registered());
  EXPECT_EQ(gpib.ibsta, gpib::CMPL);
}

TEST(GpibBindingRegistration, FailureStillMakesTheCallShowsErrAndRetriesNextTime) {
  struct Case {
    int result;
    Calls first_call;
  };
  const std::vector<Case> cases = {
      {2, {"Register", "Unregister", "ibwrt(32,\"ID?\")"}},
      {3, {"Register", "Unregister", "ibwrt(32,\"ID?\")"}},
      {4, {"Register", "ibwrt(32,\"ID?\")"}},
      {-1, {"Register", "ibwrt(32,\"ID?\")"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    FakeDriver driver;
    driver.register_results = {c.result};
    GpibBinding gpib(driver);
    gpib.ibwrt(32, "ID?");
    EXPECT_EQ(driver.calls, c.first_call);
    EXPECT_FALSE(gpib.registered());
    EXPECT_EQ(gpib.ibsta, kErrBit);
    EXPECT_EQ(gpib.iberr, gpib::EDVR);
    EXPECT_EQ(gpib.ibcntl, static_cast<Long>(0xDEAD37F0u));
    EXPECT_EQ(gpib.ibcnt, 0x37F0);

    // The next call registers again, now with success, and reports truly.
    driver.Clear();
    gpib.ibwrt(32, "ID?");
    EXPECT_EQ(driver.calls, (Calls{"Register", "ibwrt(32,\"ID?\")"}));
    EXPECT_TRUE(gpib.registered());
    EXPECT_EQ(gpib.ibsta, gpib::CMPL);
    EXPECT_EQ(gpib.ibcntl, 3);
  }
}

TEST(GpibBindingNarrowing, BitFifteenIsTheSign) {
  EXPECT_EQ(GpibBinding::Narrow(0x8000), -32768);
  EXPECT_EQ(GpibBinding::Narrow(0x12345), 0x2345);
  EXPECT_EQ(GpibBinding::Narrow(0xFFFF), -1);
  EXPECT_EQ(GpibBinding::Narrow(0x7FFF), 32767);
  EXPECT_EQ(GpibBinding::Narrow(0x18001), -32767);
  EXPECT_EQ(GpibBinding::Narrow(-1), -1);
}

TEST(GpibBindingNarrowing, StatusErrorAndCountCellsAreNarrowedOnRefresh) {
  FakeDriver driver;
  GpibBinding gpib(driver);
  driver.Script("ibpad", linktest::Outcome{0x12345, 0x18006, {}, 0, {}});
  gpib.ibpad(32, 1);
  EXPECT_EQ(gpib.ibsta, 0x2345);
  EXPECT_EQ(gpib.iberr, -32762);

  // Byte counts beyond 16 bits: ibcntl keeps them, ibcnt has the low bits.
  std::string big(0x12345, ' ');
  driver.Script("ibrd", Reply(std::string(0x12345, 'x')));
  gpib.ibrd(32, big);
  EXPECT_EQ(gpib.ibcntl, 0x12345);
  EXPECT_EQ(gpib.ibcnt, 0x2345);

  std::string half(0x8000, ' ');
  driver.Script("ibrd", Reply(std::string(0x8000, 'x')));
  gpib.ibrd(32, half);
  EXPECT_EQ(gpib.ibcntl, 0x8000);
  EXPECT_EQ(gpib.ibcnt, -32768);
  EXPECT_EQ(gpib.ibsta, static_cast<Integer>(gpib::CMPL | gpib::END));
}

TEST(GpibBindingText, WriteSendsEveryByteOfTheTextWithItsLength) {
  FakeDriver driver;
  GpibBinding gpib(driver);
  const std::string command = std::string("MESS 9:\"\\B5 TEST\xB5\"") + '\0' + "X";
  gpib.ibwrt(7, command);
  ASSERT_EQ(driver.written.size(), 1u);
  EXPECT_EQ(driver.written[0], command);
  EXPECT_EQ(driver.written[0].size(), 20u);
}

TEST(GpibBindingText, ReadFillsTheBufferFromItsStartAndKeepsItsLength) {
  FakeDriver driver;
  GpibBinding gpib(driver);
  std::string buffer(10, ' ');
  driver.Script("ibrd", Reply("AB\r\n"));
  gpib.ibrd(7, buffer);
  EXPECT_EQ(buffer, "AB\r\n      ");
  EXPECT_EQ(driver.calls, (Calls{"Register", "ibrd(7,10)"}));
  EXPECT_EQ(driver.buffers_seen[0], std::string(10, ' '));

  // More bytes than the buffer holds: only the buffer's length arrives.
  std::string small(4, ' ');
  driver.Script("ibrd", Reply("ABCDEFG", gpib::CMPL));
  gpib.ibrd(7, small);
  EXPECT_EQ(small, "ABCD");
}

TEST(GpibBindingText, SerialPollByteIsUnsigned) {
  FakeDriver driver;
  GpibBinding gpib(driver);
  Integer poll = -5;
  driver.Script("ibrsp", Reply("\xC1"));
  gpib.ibrsp(7, poll);
  EXPECT_EQ(poll, 193);
  driver.Script("ibrsp", Reply("A"));
  gpib.ibrsp(7, poll);
  EXPECT_EQ(poll, 65);
  // A poll that delivers nothing leaves the blank of the buffer.
  driver.Script("ibrsp", Error(gpib::EABO, gpib::ERR | gpib::TIMO));
  gpib.ibrsp(7, poll);
  EXPECT_EQ(poll, 32);
  EXPECT_EQ(gpib.ibsta, static_cast<Integer>(gpib::ERR | gpib::TIMO));
  EXPECT_EQ(gpib.iberr, gpib::EABO);
}

TEST(GpibBindingCalls, ArgumentsAndResultsPassThrough) {
  FakeDriver driver;
  GpibBinding gpib(driver);
  driver.Script("ibdev", Value(17));
  EXPECT_EQ(gpib.ibdev(0, 1, 0, 11, 1, 0), 17);
  Integer timeout = 0;
  driver.Script("ibask", Value(11));
  gpib.ibask(17, gpib::IbaTMO, timeout);
  EXPECT_EQ(timeout, 11);
  gpib.SendIFC(0);
  gpib.ibsre(0, 1);
  gpib.ibtmo(17, 12);
  gpib.ibwait(17, 0x4100);
  gpib.ibwait(17, static_cast<Integer>(0x800));
  EXPECT_EQ(driver.calls,
            (Calls{"Register", "ibdev(0,1,0,11,1,0)", "ibask(17,3)", "SendIFC(0)", "ibsre(0,1)",
                   "ibtmo(17,12)", "ibwait(17,0x4100)", "ibwait(17,0x800)"}));
}

TEST(GpibBindingCalls, FindLstnConvertsTheListAndKeepsUnfilledResults) {
  FakeDriver driver;
  GpibBinding gpib(driver);
  const Integer pads[] = {0, 3, 17, -1, 99};  // 99 lies beyond the terminator
  Integer results[5] = {-7, -7, -7, -7, 123};
  driver.Script("FindLstn", linktest::Found({0, 17}));
  gpib.FindLstn(0, pads, results, 4);
  EXPECT_EQ(driver.calls, (Calls{"Register", "FindLstn(0,[0x0,0x3,0x11,0xFFFF],4)"}));
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 17);
  EXPECT_EQ(results[2], -7);
  EXPECT_EQ(results[3], -7);
  EXPECT_EQ(results[4], 123);  // beyond the limit: untouched
  EXPECT_EQ(gpib.ibcntl, 2);
}

}  // namespace
}  // namespace kc
