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

TEST_F(MeasurementTest, TheHorizontalPositionMovesTheTriggerPoint) {
  bench_.SetAmplitude(BenchSource::kStandardAmplitude, 0.5);
  bench_.Connect(BenchSource::kStandardAmplitude, {BenchInput::kCh1});
  scope_->Write("VMO CH1;HOR ASEC:.1E-3;ATR LEV:0.25;CURS FUN:V.T;CURS TPOS:ONE:400,TPOS:TWO:420");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0");
  // Position 612 puts the edge at point 1024 - 612 = 412.
  scope_->Write("HOR POS:612");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0.5");
  // A level the signal never reaches locks nothing: averaged over wandering
  // phases the square wave is its mean, and the cursors read (close to)
  // nothing.
  scope_->Write("HOR POS:512;CURS TPOS:ONE:387,TPOS:TWO:637;ATR LEV:2;ACQ MOD:AVG,NUMAV:32");
  EXPECT_LT(std::fabs(Number("CURS?DISP:VAL")), 0.5 / 3);
}

TEST_F(MeasurementTest, BandwidthSetsTheSineAmplitudeAtTheTestFrequency) {
  InstrumentTraits traits = Ideal();
  traits.channel[0].bandwidth = 200e6;
  Build(traits);
  bench_.SetAmplitude(BenchSource::kSineGenerator, 0.6);
  bench_.Connect(BenchSource::kSineGenerator, {BenchInput::kCh1});
  scope_->Write("VMO CH1;CH1 FIF;HOR ASEC:5E-6;DAT SOU:CH1");
  EXPECT_EQ(PeakToPeakLevels(), 150);
  // At the -3 dB frequency: 150 / sqrt(2) = 106 levels; twice as far out
  // (Gaussian response, 2^-(f/fc)^2/2) a quarter: 37.5 levels.
  bench_.SetFrequency(BenchSource::kSineGenerator, 200e6);
  scope_->Write("HOR ASEC:2E-9");
  EXPECT_NEAR(PeakToPeakLevels(), 106, 1);
  bench_.SetFrequency(BenchSource::kSineGenerator, 400e6);
  EXPECT_NEAR(PeakToPeakLevels(), 37.5, 1);
}

TEST_F(MeasurementTest, AddResidueFollowsTheGainMismatchTrimmedWithVar) {
  InstrumentTraits traits = Ideal();
  traits.channel[0].gain_error = 4;
  Build(traits);
  // Ten divisions on both channels at 50 mV/div, CH1 inverted: the sum is
  // CH1's extra 4 %, 0.4 division or 10 levels peak to peak.
  bench_.SetAmplitude(BenchSource::kSineGenerator, 0.5);
  bench_.Connect(BenchSource::kSineGenerator, {BenchInput::kCh1, BenchInput::kCh2});
  scope_->Write("VMO CH1:OFF,ADD;CH1 FIF,VOL:.05,INV;CH2 FIF,VOL:.05,INV:OFF");
  scope_->Write("ATR SOU:CH1;HOR ASEC:10E-6;START 256;STOP 768;DAT SOU:ADD");
  EXPECT_NEAR(PeakToPeakLevels(), 10, 1);
  // VAR 6.5 takes 3.9 % off CH1's gain: 1.04 x 0.961 leaves 0.06 %.
  scope_->Write("CH1 VAR:6.5");
  EXPECT_LE(PeakToPeakLevels(), 1);
  // Twice as far turns CH1 3.8 % low.
  scope_->Write("CH1 VAR:13");
  EXPECT_NEAR(PeakToPeakLevels(), 9.5, 1);
  // Trimming CH2 instead only widens the gap.
  scope_->Write("CH1 VAR:0;CH2 VAR:6.5");
  EXPECT_NEAR(PeakToPeakLevels(), 20, 1);
}

TEST_F(MeasurementTest, ChannelMismatchAtHighFrequencyLeavesAResidueTheVarCannotTrim) {
  InstrumentTraits traits = Ideal();
  // 12 % mismatch at 50 MHz: the sum of ten divisions leaves 1.2 divisions.
  traits.channel[1].delay = std::asin(0.06) / (std::numbers::pi * 50e6);
  Build(traits);
  bench_.SetAmplitude(BenchSource::kSineGenerator, 0.5);
  bench_.Connect(BenchSource::kSineGenerator, {BenchInput::kCh1, BenchInput::kCh2});
  scope_->Write("VMO CH1:OFF,ADD;CH1 FIF,VOL:.05,INV;CH2 FIF,VOL:.05,INV:OFF");
  scope_->Write("ATR SOU:CH1;START 256;STOP 768;DAT SOU:ADD;HOR ASEC:10E-6");
  EXPECT_LE(PeakToPeakLevels(), 1);
  bench_.SetFrequency(BenchSource::kSineGenerator, 50e6);
  scope_->Write("HOR ASEC:20E-9");
  EXPECT_NEAR(PeakToPeakLevels(), 30, 1);
}

TEST_F(MeasurementTest, PercentReadoutTakesItsReferenceFromNewRef) {
  bench_.SetAmplitude(BenchSource::kStandardAmplitude, 0.2);
  bench_.Connect(BenchSource::kStandardAmplitude, {BenchInput::kCh1});
  // Averaged, the record keeps fractions of a level.
  scope_->Write("VMO CH1;CH1 POS:-1;HOR ASE:.5E-4;ATR LEV:.02;ACQ MOD:AVG");
  scope_->Write("CURS FUN:V.T;CURS UNI:VOL:PERC");
  // Without a reference five divisions are 100 %: two divisions read 40 %.
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "40");
  scope_->Write("CURS NEWR");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "100");
  bench_.SetAmplitude(BenchSource::kStandardAmplitude, 0.19);
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "95");
  // Half a division is too small to be a reference: the old one stays.
  bench_.SetAmplitude(BenchSource::kStandardAmplitude, 0.05);
  scope_->Write("CURS NEWR");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "25");
  // INIT PANEL forgets it.
  scope_->Write("INIT PANEL;VMO CH1;HOR ASE:.5E-4;ATR LEV:.01;ACQ MOD:AVG");
  scope_->Write("CURS FUN:V.T;CURS UNI:VOL:PERC");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "10");
}

TEST_F(MeasurementTest, CcdLinearityAndTheSettlingTailShowInPercent) {
  InstrumentTraits traits = Ideal();
  traits.channel[0].ccd_linearity = 90;
  traits.ccd_tail = 5;
  Build(traits);
  // Linearity: the two-division step moved out to 2.8 .. 4.8 divisions reads
  // the figure, 90 %, the upper side a little more and the lower a little
  // less.
  bench_.SetAmplitude(BenchSource::kStandardAmplitude, 0.2);
  bench_.Connect(BenchSource::kStandardAmplitude, {BenchInput::kCh1});
  scope_->Write("VMO CH1;CH1 POS:-1;HOR ASE:.5E-4;ATR LEV:.1;ACQ MOD:AVG");
  scope_->Write("CURS FUN:V.T;CURS UNI:VOL:PERC;CURS NEWR;CH1 POS:2.8");
  double upper = Number("CURS?DISP:VAL");
  scope_->Write("CH1 POS:-4.8");
  double lower = Number("CURS?DISP:VAL");
  EXPECT_NEAR((upper + lower) / 2, 90, 0.1);
  EXPECT_NEAR(upper - lower, 2, 0.1);

  // The tail: a fast step of five divisions, read 10 ns and 20 ns after it
  // (200 points at 5 ns/div) against the default five-division reference,
  // still rises by the set 5 %.
  traits.channel[0].ccd_linearity = 100;
  Build(traits);
  scope_->Write("INIT PANEL;VMO CH1;CH1 VOL:.01,FIF,POS:2.5;ATR LEV:-.01;HOR ASEC:5E-9");
  scope_->Write("HOR POS:615;ACQ MOD:AVG;CURS FUN:V.T,UNI:VOL:PERC");
  scope_->Write("CURS TPOS:ONE:609,TPOS:TWO:809");
  bench_.SetAmplitude(BenchSource::kFastRise, 0.05);
  bench_.Connect(BenchSource::kFastRise, {BenchInput::kCh1});
  EXPECT_NEAR(Number("CURS?DISP:VAL"), 5, 0.05);
}

TEST_F(MeasurementTest, RunSaveKeepsTheRecordUntilRunAcq) {
  InstrumentTraits traits = Ideal();
  traits.noise_levels = 1;
  Build(traits);
  bench_.SetAmplitude(BenchSource::kSineGenerator, 0.6);
  bench_.Connect(BenchSource::kSineGenerator, {BenchInput::kCh1});
  scope_->Write("VMO CH1;CH1 FIF;HOR ASEC:5E-6;DAT SOU:CH1;RUN SAVE");
  double kept = PeakToPeakLevels();
  bench_.SetAmplitude(BenchSource::kSineGenerator, 0.3);
  scope_->Write("VMO CH1:OFF");
  EXPECT_EQ(PeakToPeakLevels(), kept);
  scope_->Write("RUN ACQ");
  EXPECT_NEAR(PeakToPeakLevels(), 75, 5);
}

TEST_F(MeasurementTest, SelfCalibrationTrimsTheDrift) {
  InstrumentTraits traits = Ideal();
  traits.channel[0].drift = 1;
  Build(traits);
  bench_.SetAmplitude(BenchSource::kStandardAmplitude, 0.5);
  bench_.Connect(BenchSource::kStandardAmplitude, {BenchInput::kCh1});
  scope_->Write("VMO CH1;HOR ASEC:.1E-3;ATR LEV:0.25;ACQ MOD:AVG");
  scope_->Write("CURS FUN:V.T;CURS TPOS:ONE:387,TPOS:TWO:637");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0.505");
  scope_->Write("TESTT SELFC;EXE");
  clock_.Pass(SimScope::kSelfCalSeconds);
  scope_->Tick(clock_.Elapsed());
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0.5005");
}

TEST_F(MeasurementTest, WithoutAModelOrSourceTheReadingsAreNeutral) {
  VirtualClock clock;
  SimScope bare("2440", clock);
  bare.Write("PATH OFF;CURS FUN:V.T;MAX?");
  EXPECT_EQ(bare.Talk(), "0\n");
  bare.Write("CURS?DISP:VAL");
  EXPECT_EQ(bare.Talk(), "0\n");
  // With the model and nothing connected: a flat trace at the position.
  scope_->Write("CH1 POS:1;CURS FUN:V.T");
  EXPECT_EQ(Ask("MAX?"), "25");
  EXPECT_EQ(Ask("CURS?DISP:VAL"), "0");
}

TEST(Faults, EachFaultChangesExactlyItsCharacteristic) {
  struct Case {
    const char* text;
    double InstrumentTraits::*field;  // or null for a channel field
    int channel;
    double ChannelTraits::*channel_field;
    double expected;
  };
  const Case cases[] = {
      {"calibrator=2", &InstrumentTraits::calibrator_volts, 0, nullptr, 0.408},
      {"ccd-cte=7", &InstrumentTraits::ccd_tail, 0, nullptr, 7},
      {"noise=3", &InstrumentTraits::noise_levels, 0, nullptr, 3},
      {"ch1-gain=3", nullptr, 0, &ChannelTraits::gain_error, 3},
      {"ch2-gain=-2.5", nullptr, 1, &ChannelTraits::gain_error, -2.5},
      {"ch1-bandwidth=120", nullptr, 0, &ChannelTraits::bandwidth, 120e6},
      {"ch2-bandwidth=250", nullptr, 1, &ChannelTraits::bandwidth, 250e6},
      {"ch1-ccd-linearity=90", nullptr, 0, &ChannelTraits::ccd_linearity, 90},
      {"ch2-ccd-linearity=91", nullptr, 1, &ChannelTraits::ccd_linearity, 91},
  };
  const InstrumentTraits healthy = HealthyTraits("2432");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    InstrumentTraits faulty = TraitsWithFaults("2432", {c.text});
    InstrumentTraits expected = healthy;
    if (c.field != nullptr) {
      expected.*c.field = c.expected;
    } else {
      expected.channel[static_cast<std::size_t>(c.channel)].*c.channel_field = c.expected;
    }
    // Every characteristic compared; only the one named differs.
    for (std::size_t i = 0; i < 2; ++i) {
      for (double ChannelTraits::*field :
           {&ChannelTraits::gain_error, &ChannelTraits::drift, &ChannelTraits::bandwidth,
            &ChannelTraits::delay, &ChannelTraits::ccd_linearity}) {
        EXPECT_DOUBLE_EQ(faulty.channel[i].*field, expected.channel[i].*field);
      }
      EXPECT_TRUE(faulty.channel[i].setting_gain_errors.empty());
    }
    for (double InstrumentTraits::*field :
         {&InstrumentTraits::calibrator_volts, &InstrumentTraits::ccd_tail,
          &InstrumentTraits::noise_levels, &InstrumentTraits::setting_error_span}) {
      EXPECT_DOUBLE_EQ(faulty.*field, expected.*field);
    }
  }
  // The mismatch is a delay between the channels: 2 sin(pi f d) at 50 MHz.
  InstrumentTraits mismatched = TraitsWithFaults("2432", {"hf-mismatch=10"});
  EXPECT_NEAR(2 * std::sin(std::numbers::pi * 50e6 *
                           (mismatched.channel[1].delay - mismatched.channel[0].delay)),
              0.10, 1e-12);
  // One setting only.
  InstrumentTraits one = TraitsWithFaults("2432", {"ch1-gain@5E-3=4"});
  ASSERT_EQ(one.channel[0].setting_gain_errors.size(), 1u);
  EXPECT_DOUBLE_EQ(one.channel[0].setting_gain_errors[0].first, 0.005);
  EXPECT_DOUBLE_EQ(one.channel[0].setting_gain_errors[0].second, 4);
  EXPECT_DOUBLE_EQ(one.channel[0].gain_error, 0);
}

TEST(Faults, BadFaultsAreRefusedWithTheValidNames) {
  const std::string names =
      "(faults: ch1-gain, ch2-gain, calibrator, ch1-bandwidth, ch2-bandwidth, ccd-cte, "
      "ch1-ccd-linearity, ch2-ccd-linearity, hf-mismatch, noise)";
  struct Case {
    const char* text;
    const char* why;
  };
  const Case cases[] = {
      {"ch3-gain=1", "unknown name \"ch3-gain\""},
      {"ch1-gain", "expected NAME=VALUE"},
      {"ch1-gain=abc", "the value must be a number"},
      {"ch1-gain=", "the value must be a number"},
      {"ch1-gain=nan", "the value must be a number"},
      {"ch1-gain=80", "the value of ch1-gain must lie from -50 to 50"},
      {"ch1-bandwidth=0", "the value of ch1-bandwidth must lie from 1 to 2000"},
      {"calibrator@0.1=1", "calibrator has no per-setting form"},
      {"ch1-gain@0=1", "the setting after \"@\" must be volts per division, such as 0.005"},
      {"ch1-gain@x=1", "the setting after \"@\" must be volts per division, such as 0.005"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseFault(c.text, &error).has_value()) << c.text;
    EXPECT_EQ(error, std::string("bad fault \"") + c.text + "\": " + c.why + " " + names);
  }
  EXPECT_THROW(TraitsWithFaults("2440", {"bogus=1"}), std::invalid_argument);
}

TEST(Faults, HealthyModelsStayWellInsideTheirRatings) {
  for (const std::string& model : SimScope::Models()) {
    SCOPED_TRACE(model);
    InstrumentTraits traits = HealthyTraits(model);
    double rating = model == "2430" || model == "2430A" ? 150e6 : 300e6;
    for (const ChannelTraits& channel : traits.channel) {
      // The Gaussian response at the rating: at least 0.75, so the 0.708
      // limit leaves a margin.
      EXPECT_GT(std::exp(-std::log(2.0) / 2 * std::pow(rating / channel.bandwidth, 2)), 0.75);
      EXPECT_GE(channel.ccd_linearity, 97.5);
      EXPECT_LE(std::fabs(channel.drift) + traits.setting_error_span, 1.0);
    }
    EXPECT_NEAR(traits.calibrator_volts, 0.4, 0.001);
  }
}

}  // namespace
}  // namespace kc
