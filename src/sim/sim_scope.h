// The simulated oscilloscope of the 2430 family: an outsider on the bus that
// reads whatever arrives, keeps its front-panel settings, shows message lines,
// rings its bell, reports bezel-button events and requests service.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/measurement.h"
#include "link/scope_syntax.h"
#include "sim/sim_device.h"

namespace kc {

// Commands: a header word with KEY:VALUE arguments (see scope_syntax.h), the
// keywords shortened as the instrument allows ("HOR ASE:.5E-4" and
// "HOR ASEC:5E-6" set the same A-sweep speed, "ATR MOD:SGL" and
// "ATR MODE:SGLSEQ" the same trigger mode). Settings are kept under canonical
// names ("CH1 VOLTS", "CURSOR TPOS ONE"); numbers keep the text they were sent
// as, choices are stored by their full names ("SGLSEQ", "HFREJ"), switches as
// "ON" or "OFF" (a switch named without a value is switched on: "ACQ REP").
// Anything it cannot read (unknown header, key or value, a malformed command)
// is noted in errors() and otherwise ignored; a query it cannot answer gives no
// reply, so the controller's read times out.
//
// Replies to the queries of one message are joined by ";" and end with LF.
// Until "PATH OFF" they carry the header ("ID AB/2440,V81.1",
// "EVENT 452"); "INIT GPIB" and "PATH ON" bring headers back.
//
// Events: a press of bezel button n (1..5) sets the event register to 449 + n;
// MENU OFF pressed twice in a row sets it to 650. Each requests service. The
// register holds only the most recent event, and "EVE?" reads and clears it
// (0 when none). A queue would make every menu answer lag one press behind,
// because several checks end on a service-request wait whose event is never
// read, so a stale press would answer the next question.
//
// Service requests also end the self-calibration ("TESTT SELFC;EXE", about
// 8 s) and a single-sequence acquisition ("RUN ACQ" while the A trigger is in
// SGLSEQ mode: NUMAVG acquisitions of 20 ms when averaging, one otherwise).
// The serial-poll byte is 65 while a request is pending, then 0; the poll
// clears the request.
//
// Readings ("CURS?DISP:VAL", "MINI?", "MAX?") are "0" until a measurement
// model is set (see measurement.h): then they come from the waveforms the
// model acquires from the bench's sources, "CURS NEWR", "RUN SAVE",
// "RUN ACQ", "INIT PANEL" and the end of a self-calibration reach the model,
// and the replies set with SetReplies still come first.
class SimScope : public SimDevice {
 public:
  // The models of the family, in the order of the instrument's model table.
  static const std::vector<std::string>& Models();

  static constexpr double kSelfCalSeconds = 8.0;
  static constexpr double kAcquisitionSeconds = 0.02;
  static constexpr std::uint8_t kServiceRequestByte = 65;
  static constexpr int kBezelEventBase = 449;
  static constexpr int kLeaveEvent = 650;
  static constexpr int kScreenLines = 16;

  // `clock` times the instrument's own operations (Elapsed() is its time).
  SimScope(std::string model, Clock& clock);

  // The bus side.
  void Write(const std::string& data) override;
  std::optional<std::string> Talk() override;
  std::uint8_t SerialPoll() override;
  void Clear() override;
  bool RequestingService() const override { return service_request_; }
  std::optional<double> NextEventTime() const override;
  void Tick(double now) override;

  // The front panel. Buttons outside 1..5 are not on the instrument.
  void PressBezel(int n);
  // One press of MENU OFF; the second press in a row is the leave event.
  void PressMenuOff();

  // Message lines 1..16 (index 0 is line 1), escapes as received.
  const std::vector<std::string>& screen() const { return screen_; }
  int bells() const { return bells_; }
  // Called after every change of the message lines or the bell count.
  void SetScreenListener(std::function<void()> listener) { screen_listener_ = std::move(listener); }
  // Another listener, called after the one above: a second pair of eyes on
  // the screen.
  void AddScreenListener(std::function<void()> listener) {
    more_listeners_.push_back(std::move(listener));
  }
  // How many times the message lines were cleared ("MESS CLR").
  int clears() const { return clears_; }

  // Every message received, in order, exactly as received.
  const std::vector<std::string>& received() const { return received_; }
  void ClearReceived() { received_.clear(); }
  // What the instrument could not read or answer, one description each.
  const std::vector<std::string>& errors() const { return errors_; }
  void ClearErrors() { errors_.clear(); }

  // A setting by name, keywords shortened or not and separated by blanks or
  // colons ("CH1 VOL", "ATR MODE", "CURS TPOS:ONE", "RUN"); empty when the
  // name is unknown.
  std::string Setting(const std::string& key) const;
  // The setting read as a number; nullopt when it is not one.
  std::optional<double> NumberSetting(const std::string& key) const;
  // All settings by canonical name.
  const std::map<std::string, std::string>& settings() const { return settings_; }

  const std::string& model() const { return model_; }
  // The identity without header: "AB/" + model + ",V81.1".
  std::string Identity() const;
  bool headers() const { return headers_; }
  // The event register (0 = none).
  int event() const { return event_; }
  // Operations finished so far.
  int selfcals() const { return selfcals_; }
  int acquisitions() const { return acquisitions_; }
  bool selfcal_running() const { return selfcal_end_.has_value(); }
  bool acquisition_running() const { return acquisition_end_.has_value(); }

  // The measurement model that acquires and reads waveforms; none: neutral
  // readings.
  void SetMeasurement(std::unique_ptr<MeasurementModel> model) { measurement_ = std::move(model); }
  MeasurementModel* measurement() { return measurement_.get(); }
  // The front-panel settings as the measurement model reads them.
  PanelState Panel() const;
  // The trace as a person looking at the screen makes it out (no noise, in
  // digitizer levels); empty without a measurement model.
  std::vector<double> EyeTrace(Trace trace);

  // Test hook: replies for a query (given in any accepted spelling, e.g.
  // "CURS?DISP:VAL"), used in order before the instrument's own answer, sent
  // verbatim with the line end added.
  void SetReplies(const std::string& query, std::vector<std::string> replies);

 private:
  void Execute(const ScopeCommand& command, std::vector<std::string>& replies);
  void ExecuteMessage(const ScopeCommand& command);
  void Apply(int header, const ScopeCommand& command);
  void ApplyKeyed(int header, const std::vector<std::string>& argument,
                  const ScopeCommand& command);
  std::optional<std::string> Answer(int header, const ScopeCommand& command);
  std::string QueryKey(const ScopeCommand& command) const;
  // The instrument's reading for the measurement queries.
  std::string Measurement(const std::string& query);
  void ResetPanel();
  void StartAcquisition();
  void Error(const std::string& text, const ScopeCommand& command);
  void ScreenChanged();
  double Now() const { return clock_.Elapsed(); }

  std::string model_;
  Clock& clock_;
  std::map<std::string, std::string> settings_;
  std::vector<std::string> screen_;
  int bells_ = 0;
  std::function<void()> screen_listener_;
  std::vector<std::function<void()>> more_listeners_;
  int clears_ = 0;
  std::unique_ptr<MeasurementModel> measurement_;
  std::vector<std::string> received_;
  std::vector<std::string> errors_;
  std::optional<std::string> output_;
  std::map<std::string, std::deque<std::string>> replies_;
  bool headers_ = true;
  bool service_request_ = false;
  int event_ = 0;
  int menu_off_presses_ = 0;
  std::optional<double> selfcal_end_;
  std::optional<double> acquisition_end_;
  int selfcals_ = 0;
  int acquisitions_ = 0;
};

}  // namespace kc
