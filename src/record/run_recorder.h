// Keeps the record of one run while the checkout runs and files it: the
// checkout tells it what happens (the instrument identified, a check begun, a
// verdict shown, a button pressed, the check ended) and after every check the
// run's file is replaced atomically, so that an ended check is never lost. A
// file that cannot be written gives one warning and the checkout goes on.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "record/run_record.h"

namespace kc {

class RunRecorder;

// Event times for a recorder from the program's own clock, which may be
// virtual: `start` (the wall clock when the run began) plus the seconds
// `elapsed` reports since then, whole seconds rounded down.
std::function<Timestamp()> TimesFromClock(Timestamp start, std::function<double()> elapsed);

class RunRecorder {
 public:
  using TimeSource = std::function<Timestamp()>;
  using WarningSink = std::function<void(const std::string&)>;
  using FiledSink = std::function<void(const std::filesystem::path&)>;

  // Records into `folder`; an empty folder records nothing (recording off).
  // `now` gives the time of each event, `warn` takes the one warning.
  RunRecorder(std::filesystem::path folder, std::string program_version, TimeSource now,
              WarningSink warn);
  // Ends a check still open as "program closed" and files the run.
  ~RunRecorder();
  RunRecorder(const RunRecorder&) = delete;
  RunRecorder& operator=(const RunRecorder&) = delete;

  // After identification: the bus name, the instrument's address and its
  // "ID?" reply (model and firmware are taken from it).
  void BeginRun(const std::string& bus, int address, const std::string& id_reply);
  // When known; empty when not.
  void SetSerial(const std::string& serial);
  void SetTechnician(const std::string& technician);

  // A check by its menu name ("calibrator", "vert-acc", ...). A check still
  // open is filed as it stands, ended "running".
  void BeginCheck(std::string_view name);
  // A verdict the screen shows, with the unit and limits the screen applies.
  void AddReading(std::string_view item, double value, std::string_view unit,
                  std::optional<double> low, std::optional<double> high, Verdict verdict);
  // The same with the unit and limits of the check's catalogue entry.
  void AddReading(std::string_view item, double value, Verdict verdict);
  // The check's headline verdict (its title line).
  void SetCheckVerdict(Verdict verdict);
  // The technician's verdict on a check judged by eye.
  void SetEyeVerdict(EyeVerdict verdict);
  // A button pressed at a question: 1 to 5 from the left, 0 for MENU OFF.
  void ButtonPressed(std::string_view question, int button);
  // Ends the open check and files the run.
  void EndCheck(CheckEnding ending);
  // The program ends: a check still open ends as `ending` and the run is filed.
  void EndRun(CheckEnding ending);

  // Told the run's file each time the run has been filed.
  void set_filed_sink(FiledSink filed) { filed_ = std::move(filed); }

  bool enabled() const { return !folder_.empty(); }
  bool started() const { return started_; }
  const RunRecord& record() const { return run_; }
  // The run's file once it has been chosen (at the first filing).
  const std::filesystem::path& file() const { return file_; }
  // Whether the last filing was written.
  bool saved() const { return saved_; }

 private:
  CheckRecord* OpenCheck();
  void File();

  std::filesystem::path folder_;
  TimeSource now_;
  WarningSink warn_;
  FiledSink filed_;
  RunRecord run_;
  bool started_ = false;
  bool check_open_ = false;
  bool warned_ = false;
  bool saved_ = false;
  std::filesystem::path file_;
};

}  // namespace kc
