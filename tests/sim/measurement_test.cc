// The measurement model behind the simulated oscilloscope, driven as the
// program drives it: commands and queries on the instrument, sources on the
// bench. Expected readings are worked out by hand from the signal, the
// settings and the instrument's characteristics.
#include "sim/measurement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
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
  double PeakToPeakLevels() { return Number("MAX?") - Number("MINI?"); }

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

  // The calibrator at 0.5 ms/div: 200 points per period, cursors 50 points
  // either side of the edge. Its amplitude is the instrument's own.
  Build([] {
    InstrumentTraits traits = Ideal();
    traits.calibrator_volts = 0.4012;
    return traits;
  }());
  bench_.Connect(BenchSource::kCalibrator, {BenchInput::kCh1});
  scope_->Write("VMO CH1;HOR ASEC:.5E-3;ACQ MOD:AVG;ATR LEV:0.2;CH1 POS:-2");
  scope_->Write("CURS FUN:V.T;CURS TPOS:ONE:462,TPOS:TWO:562");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0.4012");
}

TEST_F(MeasurementTest, GainErrorsShowInTheVerticalAccuracySetUpOnTheChannelShown) {
  InstrumentTraits traits = Ideal();
  traits.channel[0].gain_error = 2;
  traits.channel[1].setting_gain_errors = {{0.005, -3}};
  Build(traits);
  bench_.SetAmplitude(BenchSource::kStandardAmplitude, 0.01);
  bench_.Connect(BenchSource::kStandardAmplitude, {BenchInput::kCh1, BenchInput::kCh2});
  scope_->Write("VMO CH1;CH1 POS:-2.5,VOL:0.002;CH2 POS:-2.5,VOL:.002;HOR ASEC:5E-5");
  scope_->Write("ATR LEV:0.008;ACQ MOD:AVG;CURS FUN:V.T");
  // Default cursors 412 and 612 straddle the edge at 512.
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0.0102");
  scope_->Write("VMO CH2,CH1:OFF");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0.01");
  // Only CH2's 5 mV/div setting is 3 % low.
  bench_.SetAmplitude(BenchSource::kStandardAmplitude, 0.02);
  scope_->Write("CH1 VOL:5E-3;CH2 VOL:5E-3;ATR LEV:0.016");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0.0194");
}

TEST_F(MeasurementTest, AveragingReducesTheNoise) {
  InstrumentTraits traits = Ideal();
  traits.noise_levels = 2;
  Build(traits, 42);
  bench_.SetAmplitude(BenchSource::kStandardAmplitude, 0.5);
  bench_.Connect(BenchSource::kStandardAmplitude, {BenchInput::kCh1});
  scope_->Write("VMO CH1;HOR ASEC:.1E-3;ATR LEV:0.25;CH1 POS:-2.5;CURS FUN:V.T");
  scope_->Write("CURS TPOS:ONE:387,TPOS:TWO:637");
  auto spread = [this] {
    double sum = 0;
    double squares = 0;
    const int n = 200;
    for (int i = 0; i < n; ++i) {
      double volts = Number("CURS?DISP:VAL");
      sum += volts;
      squares += volts * volts;
    }
    double mean = sum / n;
    return std::sqrt(squares / n - mean * mean);
  };
  // One acquisition: the difference of two points, each with 2 levels of
  // noise (8 mV at 4 mV a level), about 11 mV; 64 averages an eighth of it.
  double single = spread();
  scope_->Write("ACQ MOD:AVG,NUMAV:64");
  double averaged = spread();
  EXPECT_NEAR(single, 0.0113, 0.002);
  EXPECT_NEAR(averaged, single / 8, 0.0005);
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

// Every characteristic of a set of traits but the per-setting gains, in
// order: calibrator, tail, noise, setting span, then gain, drift, bandwidth,
// delay and linearity of each channel.
std::vector<double> Characteristics(const InstrumentTraits& t) {
  std::vector<double> all = {t.calibrator_volts, t.ccd_tail, t.noise_levels, t.setting_error_span};
  for (const ChannelTraits& c : t.channel) {
    all.insert(all.end(), {c.gain_error, c.drift, c.bandwidth, c.delay, c.ccd_linearity});
  }
  return all;
}

TEST(Faults, EachFaultChangesExactlyItsCharacteristic) {
  struct Case {
    const char* text;
    std::size_t index;
    double value;
  };
  const Case cases[] = {
      {"calibrator=2", 0, 0.408},
      {"ccd-cte=7", 1, 7},
      {"noise=3", 2, 3},
      {"ch1-gain=3", 4, 3},
      {"ch2-gain=-2.5", 9, -2.5},
      {"ch1-bandwidth=120", 6, 120e6},
      {"ch2-bandwidth=250", 11, 250e6},
      {"ch1-ccd-linearity=90", 8, 90},
      {"ch2-ccd-linearity=91", 13, 91},
  };
  for (const Case& c : cases) {
    std::vector<double> expected = Characteristics(HealthyTraits("2432"));
    expected[c.index] = c.value;
    const InstrumentTraits faulty = TraitsWithFaults("2432", {c.text});
    const std::vector<double> got = Characteristics(faulty);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_DOUBLE_EQ(got[i], expected[i]) << c.text;
    EXPECT_TRUE(faulty.channel[0].setting_gain_errors.empty() &&
                faulty.channel[1].setting_gain_errors.empty());
  }
  // The mismatch is a delay between the channels: 2 sin(pi f d) at 50 MHz.
  InstrumentTraits mismatched = TraitsWithFaults("2432", {"hf-mismatch=10"});
  EXPECT_NEAR(2 * std::sin(std::numbers::pi * 50e6 *
                           (mismatched.channel[1].delay - mismatched.channel[0].delay)),
              0.10, 1e-12);
  // One setting only.
  InstrumentTraits one = TraitsWithFaults("2432", {"ch1-gain@5E-3=4"});
  EXPECT_EQ(one.channel[0].setting_gain_errors,
            (std::vector<std::pair<double, double>>{{0.005, 4}}));
  EXPECT_DOUBLE_EQ(one.channel[0].gain_error, 0);
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
