// The simulated bus seen through a GPIB adapter of the Prologix / AR488 kind,
// so that a host (ours through its Prologix back end, or any other program)
// reaches the simulated oscilloscope as it would reach a real instrument
// through a real adapter.
//
// AdapterEmulator is the adapter: it reads the host's byte stream (lines
// ended by CR or LF, ESC before a CR, LF, ESC or '+' that belongs to the
// data), carries "++" commands out and sends every other line to the
// addressed device as one message, through the simulated bus's driver calls.
// Commands:
//
//   ++ver                      the version line of an AR488 (main line)
//   ++mode [1]                 controller mode (the only one); no value: query
//   ++addr [PAD [SAD]]         the address (0-30, secondary 96-126); query
//   ++auto [0-3]               read after write: 0 never, 1 and 3 after every
//                              data line, 2 after a line with '?'
//   ++eoi [0|1]                EOI with the last byte (noted only)
//   ++eos [0-3]                append CR LF / CR / LF / nothing to data
//   ++eot_enable [0|1], ++eot_char [N]   byte N after a reply ended by EOI
//   ++read [eoi|N]             the addressed device's reply (to its end)
//   ++read_tmo_ms [1-32000]    time-out of a read or a poll
//   ++clr, ++dcl               selected / universal device clear
//   ++ifc                      interface clear
//   ++spoll [PAD [SAD]]        serial poll; the status byte in decimal,
//                              nothing when the device does not answer
//   ++srq                      1 while a device requests service, else 0
//   ++ren [0|1]                remote enable
//   ++fndl all | PAD...        listeners, comma-separated (AR488 main line)
//   ++findlstn [PAD...]        listeners, each followed by a blank (ESP32 line)
//   ++loc, ++llo, ++trg, ++rst, ++savecfg [0|1]
//
// Every answer line ends in CR LF. A command it does not know gives
// "Unrecognized command", a bad or missing value "Invalid parameter" or
// "Missing parameter". A query without a value prints the setting.
//
// Time passes on the platform's clock. Whoever stands at the instrument acts when
// the host looks at the SRQ line ("++srq") and nothing is pending: that is
// when the program waits for a service request, and a scripted technician
// then does its next step, as it would in an in-process wait. Delayed script
// steps ("b2@3.5") and the instrument's own operations happen on time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "sim/sim_bus.h"

namespace kc {

class AdapterEmulator {
 public:
  // Receives what the adapter sends to the host.
  using Sink = std::function<void(std::string_view bytes)>;

  // The "++ver" answer.
  static constexpr const char* kVersion = "AR488 GPIB controller, ver. 0.53.04, 13/04/2025";

  // `technician` (may be null) is who acts on an SRQ look; `log` (may be
  // null) gets one line per bus operation (see Log below).
  AdapterEmulator(SimBus& bus, Platform& platform, SimTechnician* technician, std::ostream* log);
  ~AdapterEmulator();
  AdapterEmulator(const AdapterEmulator&) = delete;
  AdapterEmulator& operator=(const AdapterEmulator&) = delete;

  void SetSink(Sink sink) { sink_ = std::move(sink); }
  // Bytes from the host. Whole lines are carried out at once; their answers
  // go to the sink as they are made (a read of a device with nothing to say
  // first lets the read time-out pass).
  void Receive(std::string_view bytes);
  // A new host: what was left of a line is dropped. Settings stay, as in an
  // adapter that keeps running between connections.
  void NewHost();
  // The devices and the technician catch up with the clock.
  void Tick();
  // Seconds (on the platform clock's Elapsed) until something happens on its
  // own: a device's operation ends or a delayed script step falls due.
  std::optional<double> SecondsToNextEvent();
  // A note in the log ("# ..."), for connections and the like.
  void Note(const std::string& text);

  // The log: one line per bus operation, data escaped as in a driver trace:
  //   write PAD "DATA"        a data line delivered ("no listener" when none)
  //   read PAD "REPLY"        a read ("timed out" when nothing came)
  //   spoll PAD BYTE          a serial poll ("timed out")
  //   clear PAD ("no listener") | clear all | ifc | ren 0/1 | find "A,B"
  //   # NOTE
  static constexpr const char* kUnrecognized = "Unrecognized command";
  static constexpr const char* kInvalid = "Invalid parameter";
  static constexpr const char* kMissing = "Missing parameter";

 private:
  struct Settings {
    int pad = 1;
    int sad = 0;
    int auto_read = 0;
    int eoi = 1;
    int eos = 0;
    int eot_enable = 0;
    int eot_char = 0;
    int read_tmo_ms = 1200;
    int ren = 1;
  };

  void Line(const std::string& line, bool command);
  void Command(const std::string& line);
  void Data(const std::string& data);
  // Sends the host the reply of the device at `pad`, up to its end; nothing
  // when the read timed out with nothing received.
  void Read(int pad);
  void SerialPoll(int pad);
  bool ServiceRequested();
  std::string Listeners(const std::vector<int>& wanted, const std::string& separator,
                        bool trailing);
  // The bus descriptor for `pad`, with the read time-out set.
  int Descriptor(int pad);
  void Answer(const std::string& line);
  void Log(const std::string& line);
  double Now();

  SimBus& bus_;
  Platform& platform_;
  SimTechnician* technician_;
  std::ostream* log_;
  Sink sink_;
  Settings settings_;
  std::map<int, int> descriptors_;  // pad -> descriptor on the bus
  std::map<int, int> descriptor_tmo_;
  bool script_done_noted_ = false;
  // The line being received.
  std::string line_;
  bool escaped_ = false;
  bool head_escaped_ = false;
  // The bus's status cells.
  std::int32_t status_ = 0;
  std::int32_t error_ = 0;
  std::int32_t count_ = 0;
  std::int32_t count_long_ = 0;
};

}  // namespace kc
