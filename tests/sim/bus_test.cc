// The simulated bus behind the driver calls: discovery, addressing, reads in
// chunks, time-outs on the virtual clock, serial polls and service-request
// waits with the simulated technician.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/gpib_driver.h"
#include "sim/script_technician.h"
#include "sim/sim_bus.h"
#include "sim/sim_devices.h"
#include "sim/sim_scope.h"
#include "support/test_platform.h"

namespace kc {
namespace {

using gpib::CMPL;
using gpib::END;
using gpib::ERR;
using gpib::RQS;
using gpib::TIMO;
using Found = std::array<Addr4882_t, 16>;

class BusTest : public ::testing::Test {
 protected:
  BusTest() { bus_.RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_); }

  SimScope& AddScope(int pad, const std::string& model = "2440") {
    auto scope = std::make_unique<SimScope>(model, platform_.clock());
    SimScope& ref = *scope;
    bus_.Attach(pad, std::move(scope));
    return ref;
  }
  // A scope at 1 with a scripted technician; its descriptor.
  int ScopeWithScript(const std::string& script) {
    SimScope& scope = AddScope(1);
    technician_ = std::make_unique<ScriptTechnician>(scope, platform_.clock(), script);
    bus_.SetTechnician(technician_.get());
    return Open(1);
  }
  int Open(int pad) { return bus_.ibdev(0, pad, 0, gpib::T1s, 1, 0); }
  void Write(int ud, const std::string& text) {
    bus_.ibwrt(ud, text.data(), static_cast<long>(text.size()));
  }
  // One ibrd of at most `count` bytes; what arrived.
  std::string Read(int ud, long count = 512) {
    std::string buffer(static_cast<std::size_t>(count), ' ');
    bus_.ibrd(ud, buffer.data(), count);
    return buffer.substr(0, static_cast<std::size_t>(count_long_));
  }
  std::string Query(int ud, const std::string& text) {
    Write(ud, text);
    return Read(ud);
  }
  int Poll(int ud) {
    char byte = 0;
    bus_.ibrsp(ud, &byte);
    return static_cast<unsigned char>(byte);
  }
  // The listeners found in the list `pads` (ended by NOADDR), at most 15.
  Found Find(std::vector<Addr4882_t> pads) {
    pads.push_back(gpib::NOADDR);
    Found found{};
    found[15] = 0xBEEF;
    bus_.FindLstn(0, pads.data(), found.data(), 15);
    return found;
  }
  std::vector<Addr4882_t> AllAddresses() {
    std::vector<Addr4882_t> pads;
    for (Addr4882_t pad = 0; pad <= 30; ++pad) pads.push_back(pad);
    return pads;
  }
  double Now() { return platform_.clock().Elapsed(); }

  TestPlatform platform_{0};
  SimBus bus_{platform_};
  std::unique_ptr<ScriptTechnician> technician_;
  std::int32_t status_ = 0;
  std::int32_t error_ = 0;
  std::int32_t count_ = 0;
  std::int32_t count_long_ = 0;
};

TEST_F(BusTest, FindLstnPutsTheControllerFirstAndCountsItAgainstTheLimit) {
  EXPECT_EQ(Find(AllAddresses()), (Found{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xBEEF}));
  EXPECT_EQ(status_, ERR);
  EXPECT_EQ(error_, gpib::EBUS);

  bus_.Attach(12, std::make_unique<SilentListener>());
  AddScope(3);
  EXPECT_EQ(Find(AllAddresses()), (Found{0, 3, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xBEEF}));
  EXPECT_EQ(status_ & ERR, 0);
  EXPECT_EQ(count_long_, 3);
  // A list without address 0 finds only the devices, in the list's order.
  EXPECT_EQ(Find({12, 5, 3}), (Found{12, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xBEEF}));

  // Twelve more devices fill fifteen entries exactly; one more is too many.
  for (int pad = 13; pad <= 24; ++pad) bus_.Attach(pad, std::make_unique<SilentListener>());
  EXPECT_EQ(Find(AllAddresses())[14], 24);
  EXPECT_EQ(status_ & ERR, 0);
  bus_.Attach(30, std::make_unique<SilentListener>());
  EXPECT_EQ(Find(AllAddresses())[15], 0xBEEF);  // nothing written past the limit
  EXPECT_EQ(status_, ERR);
  EXPECT_EQ(error_, gpib::ETAB);
}

TEST_F(BusTest, ReadsInChunksWithEndOnTheLastAndTimeOutsOnTheVirtualClock) {
  const std::string identity(600, 'x');
  bus_.Attach(4, std::make_unique<IdDevice>(identity));
  int ud = Open(4);
  Write(ud, "ID?");
  EXPECT_EQ(count_long_, 3);
  std::string reply = Read(ud, 256);
  EXPECT_EQ(status_, CMPL);
  reply += Read(ud, 256);
  EXPECT_EQ(status_, CMPL);
  reply += Read(ud, 256);
  EXPECT_EQ(status_, CMPL | END);
  EXPECT_EQ(count_long_, 89);
  EXPECT_EQ(reply, identity + "\n");
  EXPECT_EQ(Now(), 0.0);

  // Nothing more to say: the descriptor's time-out (T1s as opened) passes,
  // in full even when a close request comes meanwhile.
  platform_.close_at = 0.4;
  EXPECT_EQ(Read(ud), "");
  EXPECT_EQ(status_, ERR | TIMO);
  EXPECT_EQ(error_, gpib::EABO);
  EXPECT_DOUBLE_EQ(Now(), 1.0);
  EXPECT_TRUE(platform_.close_pending());
  bus_.ibtmo(ud, gpib::T3s);
  int code = 0;
  bus_.ibask(ud, gpib::IbaTMO, &code);
  EXPECT_EQ(code, gpib::T3s);
  Read(ud);
  EXPECT_DOUBLE_EQ(Now(), 4.0);
}

TEST_F(BusTest, AddressingArgumentsAndClear) {
  SimScope& scope = AddScope(1);
  EXPECT_EQ(Open(9), 1);
  Write(1, "ID?");
  EXPECT_EQ(status_, ERR);
  EXPECT_EQ(error_, gpib::ENOL);
  // Readdressed to the instrument the same descriptor works.
  bus_.ibpad(1, 1);
  Write(1, "ID?");
  EXPECT_EQ(Read(1, 3), "ID ");
  // A clear drops the rest of the reply: the next read waits its time-out.
  bus_.ibclr(1);
  Read(1);
  EXPECT_EQ(status_, ERR | TIMO);
  EXPECT_EQ(scope.received(), (std::vector<std::string>{"ID?"}));

  EXPECT_EQ(Open(2), 2);
  EXPECT_EQ(bus_.ibdev(0, 31, 0, gpib::T1s, 1, 0), -1);
  EXPECT_EQ(error_, gpib::EARG);
  EXPECT_EQ(bus_.ibwrt(7, "x", 1), ERR);
  EXPECT_EQ(error_, gpib::EDVR);
  EXPECT_EQ(bus_.ibtmo(1, 18), ERR);
  EXPECT_EQ(error_, gpib::EARG);
  EXPECT_EQ(bus_.ibwait(1, TIMO | CMPL), CMPL);
  EXPECT_DOUBLE_EQ(Now(), 1.0);
}

TEST_F(BusTest, ServiceWaitsTakeTheScriptInOrderDelaysCountingFromThePreviousAction) {
  int ud = ScopeWithScript("b1,b4@2.5,b5,leave@1");
  Write(ud, "PATH OFF");
  std::vector<std::string> events;
  std::vector<double> times;
  for (int i = 0; i < 4; ++i) {
    while (Poll(ud) != 0) {
    }
    EXPECT_EQ(bus_.ibwait(ud, RQS), RQS | CMPL);
    times.push_back(Now());
    events.push_back(Query(ud, "EVE?"));
  }
  EXPECT_EQ(events, (std::vector<std::string>{"450\n", "453\n", "454\n", "650\n"}));
  EXPECT_EQ(times, (std::vector<double>{0, 2.5, 2.5, 3.5}));

  // The script is used up: the next wait ends the program.
  Poll(ud);
  try {
    bus_.ibwait(ud, RQS);
    FAIL() << "the wait returned";
  } catch (const ProgramEnd& end) {
    EXPECT_EQ(end.code, kExitOperatorDone);
    EXPECT_EQ(end.message,
              "The simulated technician's script ran out while the program waited for a bezel "
              "button.");
  }
}

TEST_F(BusTest, ADelayedPressBeatsTheInstrumentsOwnRequestWhichBeatsAnUntimedStep) {
  platform_.virtual_clock().Pass(10);
  int ud = ScopeWithScript("b2@1,b3");
  // Another device's request does not end a wait.
  AddScope(2, "2430").PressBezel(1);
  Write(ud, "TESTT SELFC;EXE;PATH OFF");
  EXPECT_EQ(bus_.ibwait(ud, RQS), RQS | CMPL);
  EXPECT_DOUBLE_EQ(Now(), 11.0);
  EXPECT_EQ(Query(ud, "EVE?"), "451\n");
  EXPECT_EQ(Poll(ud), 65);
  // The self-calibration ends the next wait; the untimed step waits its turn.
  EXPECT_EQ(bus_.ibwait(ud, RQS), RQS | CMPL);
  EXPECT_DOUBLE_EQ(Now(), 18.0);
  EXPECT_EQ(technician_->remaining(), 1u);
  EXPECT_EQ(Poll(ud), 65);
}

TEST_F(BusTest, NobodyAtTheInstrumentEndsAServiceWaitAndACloseRequestCutsItShort) {
  SimScope& scope = AddScope(1);
  int ud = Open(1);
  EXPECT_THROW(bus_.ibwait(ud, RQS), ProgramEnd);

  ScriptTechnician technician(scope, platform_.clock(), "b1@60");
  bus_.SetTechnician(&technician);
  platform_.close_at = 10;
  EXPECT_EQ(bus_.ibwait(ud, RQS), CMPL);
  EXPECT_DOUBLE_EQ(Now(), 10.0);
  EXPECT_EQ(technician.remaining(), 1u);
}

}  // namespace
}  // namespace kc
