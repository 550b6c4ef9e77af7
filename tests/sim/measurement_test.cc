// The measurement model behind the simulated oscilloscope, driven as the
// program drives it: commands and queries on the instrument, sources on the
// bench. Expected readings are worked out by hand from the signal, the
// settings and the instrument's characteristics.
#include "sim/measurement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/faults.h"
#include "sim/sim_bench.h"
#include "sim/sim_scope.h"

namespace kc {
namespace {

// An instrument without errors, noise or limits of its own.
InstrumentTraits Ideal() {
  InstrumentTraits traits;
  for (ChannelTraits& channel : traits.channel) {
    channel.gain_error = 0;
    channel.drift = 0;
    channel.bandwidth = 1e12;
    channel.delay = 0;
    channel.ccd_linearity = 100;
  }
  traits.setting_error_span = 0;
  traits.calibrator_volts = 0.4;
  traits.ccd_tail = 0;
  traits.noise_levels = 0;
  return traits;
}

class MeasurementTest : public ::testing::Test {
 protected:
  void Build(InstrumentTraits traits, std::uint64_t seed = 1) {
    scope_ = std::make_unique<SimScope>("2440", clock_);
    auto model = std::make_unique<MeasurementModel>("2440", traits, seed);
    model->SetBench(&bench_);
    scope_->SetMeasurement(std::move(model));
    scope_->Write("PATH OFF");
  }
  void SetUp() override { Build(Ideal()); }

  std::string Ask(const std::string& query) {
    scope_->Write(query);
    std::optional<std::string> reply = scope_->Talk();
    if (!reply) return "(none)";
    if (!reply->empty() && reply->back() == '\n') reply->pop_back();
    return *reply;
  }
  double Number(const std::string& query) { return std::stod(Ask(query)); }

  VirtualClock clock_;
  SourceBench bench_;
  std::unique_ptr<SimScope> scope_;
};

TEST_F(MeasurementTest, CursorsReadTheSquareWaveAsTheCalibratorCheckSetsThemUp) {
  // Nothing connected: a flat trace at the position.
  scope_->Write("CH1 POS:1;CURS FUN:V.T");
  EXPECT_EQ(Ask("MAX?"), "25");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0");
  scope_->Write("CH1 POS:0");
  // The gain reference: 500 mV at 100 mV/div, 0.1 ms/div, so one period of
  // 1 kHz spans 1000 points; the rising edge at the trigger point 512 lies
  // between the cursors at 387 (low) and 637 (high).
  bench_.SetAmplitude(BenchSource::kStandardAmplitude, 0.5);
  bench_.Connect(BenchSource::kStandardAmplitude, {BenchInput::kCh1});
  scope_->Write("VMO CH1;HOR ASEC:.1E-3;ATR LEV:0.25;CH1 POS:-2.5");
  scope_->Write("CURS FUN:V.T;CURS TPOS:ONE:387,TPOS:TWO:637;ACQ MOD:AVG,NUMAV:128");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0.5");
  // Cursor two minus cursor one: swapped, the reading changes its sign;
  // both on the high half-period, it reads nothing.
  scope_->Write("CURS TPOS:ONE:637,TPOS:TWO:387");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "-0.5");
  scope_->Write("CURS TPOS:ONE:600,TPOS:TWO:900");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0");
  // Horizontal position 612 puts the edge at point 1024 - 612 = 412.
  scope_->Write("CURS TPOS:ONE:400,TPOS:TWO:420;HOR POS:612");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0.5");
  // A level the signal never reaches locks nothing: averaged over wandering
  // phases the square wave is its mean, and the cursors read close to nothing.
  scope_->Write("HOR POS:512;CURS TPOS:ONE:387,TPOS:TWO:637;ATR LEV:2");
  EXPECT_LT(std::fabs(Number("CURS?DISP:VAL")), 0.5 / 3);
}

TEST_F(MeasurementTest, LookingAtTheTraceDoesNotChangeTheReadingsOfASeededRun) {
  // A sine on CH1 while the trigger watches EXT1: every acquisition catches it
  // at a new phase. Drawing the trace for a person in between must not move
  // the readings of the same seed.
  auto readings = [this](bool look) {
    InstrumentTraits traits = Ideal();
    traits.noise_levels = 2;
    Build(traits, 7);
    bench_.SetAmplitude(BenchSource::kSineGenerator, 0.6);
    bench_.Connect(BenchSource::kSineGenerator, {BenchInput::kCh1});
    scope_->Write("VMO CH1;CH1 FIF;HOR ASEC:5E-6;ATR SOU:EXT1;DAT SOU:CH1;CURS FUN:V.T");
    std::vector<std::string> values;
    for (int i = 0; i < 20; ++i) {
      if (look) scope_->EyeTrace(Trace::kCh1);
      values.push_back(Ask("CURS?DISP:VAL"));
      values.push_back(Ask("MAX?"));
    }
    return values;
  };
  std::vector<std::string> unobserved = readings(false);
  EXPECT_EQ(readings(true), unobserved);
  // The phases do wander: the readings are not all alike.
  EXPECT_NE(std::count(unobserved.begin(), unobserved.end(), unobserved[0]), 20);
}

TEST_F(MeasurementTest, ExtremesAreWholeLevelsTwentyFivePerDivisionWithinStartAndStop) {
  // 0.6 V p-p into 50 ohm at 100 mV/div: six divisions, 150 levels.
  bench_.SetAmplitude(BenchSource::kSineGenerator, 0.6);
  bench_.Connect(BenchSource::kSineGenerator, {BenchInput::kCh1});
  scope_->Write("VMO CH1;CH1 FIF;HOR ASEC:5E-6;DAT SOU:CH1");
  EXPECT_EQ(Ask("MAX?"), "75");
  EXPECT_EQ(Ask("MINI?"), "-75");
  // Without the 50-ohm setting the generator's output doubles: twelve
  // divisions do not fit and the digitizer clips.
  scope_->Write("CH1 FIF:OFF");
  EXPECT_EQ(Ask("MAX?"), "127");
  EXPECT_EQ(Ask("MINI?"), "-128");
  // The position shifts the levels.
  scope_->Write("CH1 FIF,POS:1");
  EXPECT_EQ(Ask("MAX?"), "100");
  EXPECT_EQ(Ask("MINI?"), "-50");

  // A square wave from 0 to 2 divisions rising at point 512: the window
  // before the edge holds the low level only.
  bench_.SetAmplitude(BenchSource::kStandardAmplitude, 0.2);
  bench_.Connect(BenchSource::kStandardAmplitude, {BenchInput::kCh1});
  scope_->Write("CH1 FIF:OFF,POS:0;HOR ASEC:.1E-3;ATR LEV:0.1;START 100;STOP 500");
  EXPECT_EQ(Ask("MAX?"), "0");
  scope_->Write("STOP 700");
  EXPECT_EQ(Ask("MAX?"), "50");
  // STOP before START reads the same window.
  scope_->Write("START 700;STOP 100");
  EXPECT_EQ(Ask("MAX?"), "50");
  EXPECT_EQ(Ask("MINI?"), "0");
}

// The command line's unknown names and bad numbers are tested end to end;
// here the forms it cannot show.
TEST(Faults, BadFaultsAreRefusedWithTheValidNames) {
  const std::string names =
      " (faults: ch1-gain, ch2-gain, calibrator, ch1-bandwidth, ch2-bandwidth, ccd-cte, "
      "ch1-ccd-linearity, ch2-ccd-linearity, hf-mismatch, noise)";
  const std::string setting = "the setting after \"@\" must be volts per division, such as 0.005";
  const std::pair<std::string, std::string> cases[] = {
      {"ch1-gain", "expected NAME=VALUE"},
      {"ch1-gain=nan", "the value must be a number"},
      {"ch1-bandwidth=0", "the value of ch1-bandwidth must lie from 1 to 2000"},
      {"calibrator@0.1=1", "calibrator has no per-setting form"},
      {"ch1-gain@0=1", setting},
      {"ch1-gain@x=1", setting}};
  for (const auto& [text, why] : cases) {
    std::string error;
    EXPECT_FALSE(ParseFault(text, &error).has_value()) << text;
    EXPECT_EQ(error, "bad fault \"" + text + "\": " + why + names);
  }
  EXPECT_THROW(TraitsWithFaults("2440", {"bogus=1"}), std::invalid_argument);
}

}  // namespace
}  // namespace kc
