#include "sim/adapter_emulator.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>

#include "link/tracing_driver.h"
#include "platform/text.h"

namespace kc {

namespace {

constexpr char kEsc = 27;
constexpr int kMaxAddress = 30;
constexpr int kLowestSecondary = 96;
constexpr int kHighestSecondary = 126;
constexpr int kLongestReadMs = 32000;
// A host line longer than this is not a command or a message: it is dropped.
constexpr std::size_t kMaxLine = 1 << 16;
// The most a read takes from a device, and in how many driver calls.
constexpr long kReadChunk = 4096;
constexpr int kMaxReadChunks = 256;
// Bound on the technician's due actions done in one go.
constexpr int kMaxDueActions = 1000;

}  // namespace

AdapterEmulator::AdapterEmulator(SimBus& bus, Platform& platform, SimTechnician* technician,
                                 std::ostream* log)
    : bus_(bus), platform_(platform), technician_(technician), log_(log) {
  bus_.RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_);
}

AdapterEmulator::~AdapterEmulator() {
  bus_.UnregisterGpibGlobalsForThread();
}

double AdapterEmulator::Now() {
  return platform_.clock().Elapsed();
}

void AdapterEmulator::Log(const std::string& line) {
  if (log_ == nullptr) return;
  *log_ << line << '\n';
  log_->flush();  // a server that is killed leaves a whole log
}

void AdapterEmulator::Note(const std::string& text) {
  Log("# " + text);
}

void AdapterEmulator::Answer(const std::string& line) {
  if (sink_) sink_(line + "\r\n");
}

void AdapterEmulator::NewHost() {
  line_.clear();
  escaped_ = false;
  head_escaped_ = false;
}

void AdapterEmulator::Tick() {
  double now = Now();
  for (int pad = 1; pad <= kMaxAddress; ++pad) {
    if (SimDevice* device = bus_.device(pad)) device->Tick(now);
  }
  if (technician_ == nullptr) return;
  for (int actions = 0; actions < kMaxDueActions && technician_->ActIfDue(now); ++actions) {
  }
}

std::optional<double> AdapterEmulator::SecondsToNextEvent() {
  std::optional<double> next;
  auto consider = [&next](std::optional<double> at) {
    if (at && (!next || *at < *next)) next = at;
  };
  for (int pad = 1; pad <= kMaxAddress; ++pad) {
    if (SimDevice* device = bus_.device(pad)) consider(device->NextEventTime());
  }
  if (technician_ != nullptr) consider(technician_->NextTimedAction());
  if (!next) return std::nullopt;
  return std::max(0.0, *next - Now());
}

void AdapterEmulator::Receive(std::string_view bytes) {
  // The bus reports into the cells of whoever serves a host at the moment
  // (a VXI-11 gateway may share the bus).
  bus_.RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_);
  for (char c : bytes) {
    if (escaped_) {
      if (line_.size() < 2) head_escaped_ = true;
      line_ += c;
      escaped_ = false;
    } else if (c == kEsc) {
      escaped_ = true;
    } else if (c == '\r' || c == '\n') {
      if (line_.empty()) continue;
      std::string line = std::move(line_);
      bool command = !head_escaped_ && line.rfind("++", 0) == 0;
      NewHost();
      Line(line, command);
    } else {
      line_ += c;
    }
    if (line_.size() > kMaxLine) {
      Note("dropped a line of more than " + std::to_string(kMaxLine) + " bytes");
      NewHost();
    }
  }
}

void AdapterEmulator::Line(const std::string& line, bool command) {
  Tick();
  if (command) {
    Command(line);
  } else {
    Data(line);
  }
}

int AdapterEmulator::Descriptor(int pad) {
  int code = gpib::TimeoutCodeNear(settings_.read_tmo_ms);
  auto found = descriptors_.find(pad);
  if (found == descriptors_.end()) {
    int ud = bus_.ibdev(0, pad, 0, code, 1, 0);
    descriptors_[pad] = ud;
    descriptor_tmo_[ud] = code;
    return ud;
  }
  int ud = found->second;
  if (descriptor_tmo_[ud] != code) {
    bus_.ibtmo(ud, code);
    descriptor_tmo_[ud] = code;
  }
  return ud;
}

void AdapterEmulator::Data(const std::string& data) {
  static constexpr const char* kTerminators[] = {"\r\n", "\r", "\n", ""};
  std::string message = data + kTerminators[settings_.eos];
  int pad = settings_.pad;
  int ud = Descriptor(pad);
  int status = bus_.ibwrt(ud, message.data(), static_cast<long>(message.size()));
  std::string where = "write " + std::to_string(pad) + " ";
  if ((status & gpib::ERR) != 0) {
    Log(where + (error_ == gpib::ENOL ? "no listener" : "failed, error " + std::to_string(error_)) +
        " " + TracingDriver::Quoted(message));
    return;
  }
  Log(where + TracingDriver::Quoted(message));
  bool query = data.find('?') != std::string::npos;
  if (settings_.auto_read == 1 || settings_.auto_read == 3 || (settings_.auto_read == 2 && query))
    Read(pad);
}

void AdapterEmulator::Read(int pad) {
  int ud = Descriptor(pad);
  std::string reply;
  bool ended = false;
  for (int chunk = 0; chunk < kMaxReadChunks && !ended; ++chunk) {
    char buffer[kReadChunk];
    int status = bus_.ibrd(ud, buffer, kReadChunk);
    if ((status & gpib::ERR) != 0) break;
    reply.append(buffer, static_cast<std::size_t>(std::max(count_long_, 0)));
    ended = (status & gpib::END) != 0;
  }
  if (reply.empty() && !ended) {
    Log("read " + std::to_string(pad) + " timed out");
    return;
  }
  Log("read " + std::to_string(pad) + " " + TracingDriver::Quoted(reply));
  if (ended && settings_.eot_enable != 0) reply += static_cast<char>(settings_.eot_char);
  if (sink_) sink_(reply);
}

void AdapterEmulator::SerialPoll(int pad) {
  int ud = Descriptor(pad);
  char byte = 0;
  int status = bus_.ibrsp(ud, &byte);
  if ((status & gpib::ERR) != 0) {
    // As the AR488 main line: nothing at all for a poll nobody answered.
    Log("spoll " + std::to_string(pad) + " timed out");
    return;
  }
  std::string value = std::to_string(static_cast<unsigned char>(byte));
  Log("spoll " + std::to_string(pad) + " " + value);
  Answer(value);
}

bool AdapterEmulator::ServiceRequested() {
  Tick();
  auto line = [this] {
    for (int pad = 1; pad <= kMaxAddress; ++pad) {
      SimDevice* device = bus_.device(pad);
      if (device != nullptr && device->RequestingService()) return true;
    }
    return false;
  };
  if (line()) return true;
  // The host waits for a service request. As in a wait on the bus itself,
  // what is under way on its own comes first; otherwise whoever stands at the
  // instrument does the next step.
  if (technician_ == nullptr || SecondsToNextEvent()) return false;
  if (!technician_->ActOnWait(Now())) {
    if (!script_done_noted_) Note("the technician's script has run out");
    script_done_noted_ = true;
    return false;
  }
  return line();
}

std::string AdapterEmulator::Listeners(const std::vector<int>& wanted, const std::string& separator,
                                       bool trailing) {
  std::vector<Addr4882_t> pads;
  pads.reserve(wanted.size() + 1);
  for (int pad : wanted) pads.push_back(static_cast<Addr4882_t>(pad));
  pads.push_back(gpib::NOADDR);
  std::vector<Addr4882_t> found(pads.size(), 0);
  bus_.FindLstn(0, pads.data(), found.data(), static_cast<int>(found.size()));
  std::string list;
  if ((status_ & gpib::ERR) == 0) {
    for (int i = 0; i < count_long_; ++i) {
      list += std::to_string(found[static_cast<std::size_t>(i)]);
      if (trailing || i + 1 < count_long_) list += separator;
    }
  }
  Log("find " + TracingDriver::Quoted(list));
  return list;
}

void AdapterEmulator::Command(const std::string& line) {
  std::istringstream words(line.substr(2));
  std::string name;
  words >> name;
  name = Lower(name);
  std::vector<std::string> args;
  for (std::string word; words >> word;) args.push_back(word);

  // A setting: printed without a value, else set when the value is good.
  auto setting = [&](int& value, int lo, int hi) {
    if (args.empty()) {
      Answer(std::to_string(value));
      return true;
    }
    std::optional<int> number = WholeNumber(args[0], lo, hi);
    if (!number) {
      Answer(kInvalid);
      return false;
    }
    value = *number;
    return true;
  };
  // An address and optional secondary address from args[first].
  auto address = [&](std::size_t first, int& pad, int& sad) {
    std::optional<int> primary = WholeNumber(args[first], 0, kMaxAddress);
    std::optional<int> secondary = 0;
    if (args.size() > first + 1)
      secondary = WholeNumber(args[first + 1], kLowestSecondary, kHighestSecondary);
    if (!primary || !secondary) {
      Answer(kInvalid);
      return false;
    }
    pad = *primary;
    sad = *secondary;
    return true;
  };
  auto pad_list = [&](std::size_t first, std::vector<int>& pads) {
    for (std::size_t i = first; i < args.size(); ++i) {
      std::optional<int> pad = WholeNumber(args[i], 1, kMaxAddress);
      if (!pad) {
        Answer(kInvalid);
        return false;
      }
      pads.push_back(*pad);
    }
    return true;
  };
  auto all_pads = [] {
    std::vector<int> pads;
    for (int pad = 1; pad <= kMaxAddress; ++pad) pads.push_back(pad);
    return pads;
  };

  if (name == "ver") {
    Answer(kVersion);
  } else if (name == "mode") {
    int mode = 1;
    setting(mode, 1, 1);  // controller mode only
  } else if (name == "addr") {
    if (args.empty()) {
      Answer(std::to_string(settings_.pad) +
             (settings_.sad != 0 ? " " + std::to_string(settings_.sad) : ""));
    } else {
      address(0, settings_.pad, settings_.sad);
    }
  } else if (name == "auto") {
    setting(settings_.auto_read, 0, 3);
  } else if (name == "eoi") {
    setting(settings_.eoi, 0, 1);
  } else if (name == "eos") {
    setting(settings_.eos, 0, 3);
  } else if (name == "eot_enable") {
    setting(settings_.eot_enable, 0, 1);
  } else if (name == "eot_char") {
    setting(settings_.eot_char, 0, 255);
  } else if (name == "read_tmo_ms") {
    setting(settings_.read_tmo_ms, 1, kLongestReadMs);
  } else if (name == "read") {
    if (!args.empty() && Lower(args[0]) != "eoi" && !WholeNumber(args[0], 0, 255)) {
      Answer(kInvalid);
    } else {
      // The simulated devices end every reply with EOI: a read to an end
      // character takes the same message.
      Read(settings_.pad);
    }
  } else if (name == "clr") {
    bool cleared = (bus_.ibclr(Descriptor(settings_.pad)) & gpib::ERR) == 0;
    Log("clear " + std::to_string(settings_.pad) + (cleared ? "" : " no listener"));
  } else if (name == "dcl") {
    for (int pad = 1; pad <= kMaxAddress; ++pad) {
      if (bus_.device(pad) != nullptr) bus_.ibclr(Descriptor(pad));
    }
    Log("clear all");
  } else if (name == "ifc") {
    bus_.SendIFC(0);
    Log("ifc");
  } else if (name == "spoll") {
    int pad = settings_.pad;
    int sad = settings_.sad;
    if (args.empty() || address(0, pad, sad)) SerialPoll(pad);
  } else if (name == "srq") {
    Answer(ServiceRequested() ? "1" : "0");
  } else if (name == "ren") {
    if (setting(settings_.ren, 0, 1) && !args.empty()) {
      bus_.ibsre(0, settings_.ren);
      Log("ren " + std::to_string(settings_.ren));
    }
  } else if (name == "fndl") {
    std::vector<int> pads;
    if (args.empty()) {
      Answer(kMissing);
    } else if (Lower(args[0]) == "all") {
      Answer(Listeners(all_pads(), ",", false));
    } else if (pad_list(0, pads)) {
      Answer(Listeners(pads, ",", false));
    }
  } else if (name == "findlstn") {
    std::vector<int> pads;
    if (args.empty()) {
      Answer(Listeners(all_pads(), " ", true));
    } else if (pad_list(0, pads)) {
      Answer(Listeners(pads, " ", true));
    }
  } else if (name == "rst") {
    settings_ = Settings{};
    Note("adapter reset");
  } else if (name == "loc" || name == "llo" || name == "trg" || name == "savecfg") {
    // Accepted; the simulated instruments have no local state or trigger,
    // and nothing is saved.
  } else {
    Answer(kUnrecognized);
  }
}

}  // namespace kc
