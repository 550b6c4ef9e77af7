#include "link/prologix_driver.h"

#include <algorithm>
#include <asio/error.hpp>
#include <cctype>
#include <cmath>
#include <cstring>
#include <iostream>
#include <thread>
#include <utility>

#include "link/bus_syntax.h"
#include "platform/text.h"

namespace kc {
namespace {

constexpr char kEsc = 27;
constexpr int kPrologixMaxReadMs = 3000;
constexpr int kAr488MaxReadMs = 32000;
// Seconds a read or poll with time-out code TNONE may take at most.
constexpr double kLongestWait = 1000;
// Error lines of the adapter; they answer a command it did not take.
constexpr const char* kAdapterErrors[] = {"Unrecognized command", "Invalid parameter",
                                          "Missing parameter"};

// An adapter line without blanks and line ends at either end.
std::string Trimmed(const std::string& line) {
  return std::string(Trim(line));
}

bool IsAdapterError(const std::string& line) {
  std::string trimmed = Trimmed(line);
  for (const char* error : kAdapterErrors)
    if (trimmed.rfind(error, 0) == 0) return true;
  return false;
}

// A status byte as the adapter prints it: decimal 0 to 255.
std::optional<int> StatusByte(const std::string& line) {
  std::string trimmed = Trimmed(line);
  if (trimmed.empty() || trimmed.size() > 3) return std::nullopt;
  int value = 0;
  for (char c : trimmed) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > 255) return std::nullopt;
  return value;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Drops the adapter's error lines from the front of a reply: they answer a
// set-up command sent just before the read and are not the instrument's.
void DropAdapterErrorLines(std::string& reply) {
  while (true) {
    std::size_t end = reply.find('\n');
    if (end == std::string::npos || !IsAdapterError(reply.substr(0, end))) return;
    reply.erase(0, end + 1);
  }
}

// The other side closed the connection (rather than the network failing).
bool ClosedByPeer(const std::error_code& error) {
  return error == asio::error::eof || error == asio::error::connection_reset ||
         error == asio::error::broken_pipe || error == std::errc::connection_reset ||
         error == std::errc::broken_pipe;
}

// "address 5", "addresses 5, 7".
std::string AddressesText(const std::vector<int>& pads) {
  std::string text = pads.size() == 1 ? "address " : "addresses ";
  for (std::size_t i = 0; i < pads.size(); ++i)
    text += (i == 0 ? "" : ", ") + std::to_string(pads[i]);
  return text;
}

double ReadSeconds(int tmo) {
  double seconds = gpib::TimeoutSeconds(tmo);
  return seconds > 0 ? seconds : kLongestWait;
}

}  // namespace

PrologixDriver::PrologixDriver(std::unique_ptr<AdapterStream> stream, Platform& platform,
                               PrologixOptions options)
    : stream_(std::move(stream)), platform_(platform), options_(std::move(options)) {}

PrologixDriver::~PrologixDriver() {
  stream_->Close();
}

std::string PrologixDriver::AdapterName() const {
  const char* kind = "GPIB adapter";
  switch (flavor_) {
    case Flavor::kPrologix:
      kind = "Prologix adapter";
      break;
    case Flavor::kAr488:
      kind = "AR488 adapter";
      break;
    case Flavor::kAr488Esp32:
      kind = "AR488 (ESP32) adapter";
      break;
    case Flavor::kUnknown:
      break;
  }
  return std::string(kind) + " at " + stream_->Describe();
}

std::string PrologixDriver::EscapeData(const char* data, long count) {
  std::string escaped;
  escaped.reserve(static_cast<std::size_t>(count) + 8);
  for (long i = 0; i < count; ++i) {
    char c = data[i];
    if (c == '\r' || c == '\n' || c == kEsc || c == '+') escaped += kEsc;
    escaped += c;
  }
  escaped += '\n';
  return escaped;
}

PrologixDriver::Flavor PrologixDriver::FlavorOf(const std::string& version) {
  std::string lower = version;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("prologix") != std::string::npos) return Flavor::kPrologix;
  if (lower.find("esp32") != std::string::npos) return Flavor::kAr488Esp32;
  return Flavor::kAr488;
}

std::optional<std::vector<int>> PrologixDriver::ParseListenerList(const std::string& line) {
  std::vector<int> addresses;
  std::string token;
  auto take = [&]() {
    if (token.empty()) return true;
    if (token.size() > 2) return false;
    int pad = std::stoi(token);
    token.clear();
    if (pad > 30) return false;
    if (std::find(addresses.begin(), addresses.end(), pad) == addresses.end())
      addresses.push_back(pad);
    return true;
  };
  for (char c : line) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      token += c;
    } else if (c == ',' || c == ' ' || c == '\t' || c == '\r') {
      if (!take()) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (!take()) return std::nullopt;
  return addresses;
}

AdapterStream::Deadline PrologixDriver::After(double seconds) const {
  return std::chrono::steady_clock::now() +
         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
             std::chrono::duration<double>(seconds));
}

void PrologixDriver::Diagnose(const std::string& line) {
  // The boxes that follow carry the latest reason; the line is printed once.
  platform_.SetMessageDetail(line);
  if (fault_reported_) return;
  fault_reported_ = true;
  Note(line);
}

void PrologixDriver::Note(const std::string& line) {
  platform_.SetMessageDetail(line);
  if (options_.diagnostic) {
    options_.diagnostic(line);
  } else {
    std::cerr << line << std::endl;
  }
}

void PrologixDriver::Recovered() {
  fault_reported_ = false;
  if (!platform_.message_detail().empty()) platform_.SetMessageDetail({});
}

void PrologixDriver::ConnectionLost(const std::string& what, const std::error_code& error) {
  ready_ = false;
  stream_->Close();
  fault_error_ = gpib::EDVR;
  // An adapter that serves one host at a time closes a second connection at
  // once: the end comes before it has said who it is.
  if (identifying_ && !stream_->is_serial() && ClosedByPeer(error)) {
    Diagnose(AdapterName() + ": adapter busy (another program is connected)");
    return;
  }
  Diagnose(AdapterName() + ": " + what + ": " + error.message());
}

void PrologixDriver::AdapterSilent(const std::string& what) {
  ready_ = false;
  stream_->Close();
  fault_error_ = gpib::EABO;
  Diagnose(AdapterName() + " does not answer " + what);
}

int PrologixDriver::Ok(int status, long count) {
  return Report(status, 0, count);
}

int PrologixDriver::ReadTimeoutMs(int tmo) const {
  int most = flavor_ == Flavor::kAr488 || flavor_ == Flavor::kAr488Esp32 ? kAr488MaxReadMs
                                                                         : kPrologixMaxReadMs;
  double seconds = gpib::TimeoutSeconds(tmo);
  if (seconds <= 0) return most;
  return std::clamp(static_cast<int>(std::lround(seconds * 1000)), 1, most);
}

bool PrologixDriver::Send(const std::string& lines) {
  std::error_code error = stream_->WriteAll(lines, After(options_.connect_seconds));
  if (error) {
    ConnectionLost("cannot send", error);
    return false;
  }
  return true;
}

std::optional<std::string> PrologixDriver::Answer(AdapterStream::Deadline deadline,
                                                  const Accept& accept, double error_grace) {
  while (true) {
    std::string line;
    std::error_code error = stream_->ReadLine(deadline, &line);
    if (AdapterStream::IsTimeout(error)) return std::nullopt;
    if (error) {
      ConnectionLost("connection lost", error);
      return std::nullopt;
    }
    if (IsAdapterError(line)) {
      if (error_grace >= 0) deadline = std::min(deadline, After(error_grace));
      continue;
    }
    if (accept(line)) {
      Recovered();  // the adapter works again
      return line;
    }
    // Anything else came unasked: dropped.
  }
}

bool PrologixDriver::Identify() {
  int tries = std::max(1, options_.identify_tries);
  for (int attempt = 0; attempt < tries; ++attempt) {
    if (std::error_code error = stream_->Drain()) {
      ConnectionLost("connection lost", error);
      return false;
    }
    if (!Send("++ver\n")) return false;
    std::optional<std::string> line = Answer(
        After(options_.answer_seconds), [](const std::string& l) { return !Trimmed(l).empty(); });
    if (line) {
      version_ = Trimmed(*line);
      flavor_ = FlavorOf(version_);
      return true;
    }
    if (!stream_->is_open()) return false;
  }
  stream_->Close();
  fault_error_ = gpib::ENEB;
  Diagnose(AdapterName() + " does not answer ++ver: is it a Prologix or AR488 GPIB adapter?");
  return false;
}

bool PrologixDriver::Start() {
  if (ready_) return true;
  std::error_code error = stream_->Open(After(options_.connect_seconds));
  if (error) {
    fault_error_ = gpib::ENEB;
    Diagnose(AdapterName() + ": cannot connect: " + error.message());
    return false;
  }
  addr_pad_ = addr_sad_ = eoi_ = read_tmo_ms_ = -1;
  rest_.clear();
  needs_resync_ = false;
  identifying_ = true;
  bool identified = Identify();
  identifying_ = false;
  if (!identified) {
    fault_error_ = gpib::ENEB;
    return false;
  }
  int read_ms = ReadTimeoutMs(gpib::T3s);
  std::string setup = "++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++eot_enable 1\n++eot_char " +
                      std::to_string(static_cast<unsigned char>(options_.eot_char)) +
                      "\n++read_tmo_ms " + std::to_string(read_ms) + "\n";
  if (!Send(setup)) {
    fault_error_ = gpib::ENEB;
    return false;
  }
  eoi_ = 1;
  read_tmo_ms_ = read_ms;
  ready_ = true;
  Recovered();
  return true;
}

bool PrologixDriver::Resync() {
  if (std::error_code error = stream_->Drain()) {
    ConnectionLost("connection lost", error);
    return false;
  }
  if (!Send("++ver\n")) return false;
  double busy = std::max(read_tmo_ms_, 0) / 1000.0;
  std::optional<std::string> line =
      Answer(After(options_.answer_seconds + busy),
             [this](const std::string& l) { return EndsWith(Trimmed(l), version_); });
  if (!line) {
    if (stream_->is_open()) AdapterSilent("++ver");
    return false;
  }
  needs_resync_ = false;
  return true;
}

bool PrologixDriver::Begin() {
  if (!Start()) return false;
  if (needs_resync_) return Resync();
  if (std::error_code error = stream_->Drain()) {
    ConnectionLost("connection lost", error);
    return false;
  }
  return true;
}

bool PrologixDriver::Select(const Descriptor& descriptor, bool for_read) {
  std::string lines;
  if (descriptor.pad != addr_pad_ || descriptor.sad != addr_sad_) {
    lines += "++addr " + std::to_string(descriptor.pad);
    if (descriptor.sad != 0) lines += " " + std::to_string(descriptor.sad);
    lines += "\n";
  }
  int eoi = descriptor.eoi ? 1 : 0;
  if (!for_read && eoi != eoi_) lines += "++eoi " + std::to_string(eoi) + "\n";
  int read_ms = ReadTimeoutMs(descriptor.tmo);
  if (for_read && read_ms != read_tmo_ms_)
    lines += "++read_tmo_ms " + std::to_string(read_ms) + "\n";
  if (lines.empty()) return true;
  if (!Send(lines)) return false;
  addr_pad_ = descriptor.pad;
  addr_sad_ = descriptor.sad;
  if (for_read) {
    read_tmo_ms_ = read_ms;
  } else {
    eoi_ = eoi;
  }
  return true;
}

void PrologixDriver::SendIFC(int board) {
  if (board != 0) {
    Fail(gpib::ENEB);
    return;
  }
  if (!Begin() || !Send("++ifc\n")) {
    FailWithFault();
    return;
  }
  rest_.clear();
  Ok(gpib::CMPL, 0);
}

int PrologixDriver::ibsre(int board, int v) {
  if (board != 0) return Fail(gpib::ENEB);
  if (!Begin()) return FailWithFault();
  // A Prologix asserts REN itself and has no command for it.
  if (flavor_ != Flavor::kPrologix && !Send(v != 0 ? "++ren 1\n" : "++ren 0\n"))
    return FailWithFault();
  return Ok(gpib::CMPL, 0);
}

std::optional<std::vector<int>> PrologixDriver::ProbeListeners(const std::vector<int>& wanted) {
  // A serial poll of each address; "++ver" after it marks the end of the
  // poll's answer, whether the adapter prints nothing, an empty line or the
  // status byte.
  std::vector<int> found;
  if (read_tmo_ms_ != options_.search_timeout_ms) {
    if (!Send("++read_tmo_ms " + std::to_string(options_.search_timeout_ms) + "\n"))
      return std::nullopt;
    read_tmo_ms_ = options_.search_timeout_ms;
  }
  for (int pad : wanted) {
    if (!Send("++addr " + std::to_string(pad) + "\n++spoll\n++ver\n")) return std::nullopt;
    addr_pad_ = pad;
    addr_sad_ = 0;
    bool answered = false;
    AdapterStream::Deadline deadline =
        After(options_.answer_seconds + options_.search_timeout_ms / 1000.0);
    while (true) {
      std::optional<std::string> line = Answer(deadline, [](const std::string&) { return true; });
      if (!line) {
        if (stream_->is_open()) AdapterSilent("++ver");
        return std::nullopt;
      }
      if (EndsWith(Trimmed(*line), version_)) break;
      if (StatusByte(*line)) answered = true;
    }
    if (answered) found.push_back(pad);
  }
  return found;
}

std::optional<std::vector<int>> PrologixDriver::SearchListeners(const std::vector<int>& wanted) {
  if (flavor_ == Flavor::kPrologix) return ProbeListeners(wanted);
  // Each absent address costs the adapter one read time-out: keep it short.
  std::string command = flavor_ == Flavor::kAr488Esp32 ? "++findlstn" : "++fndl all";
  std::string lines;
  if (read_tmo_ms_ != options_.search_timeout_ms)
    lines += "++read_tmo_ms " + std::to_string(options_.search_timeout_ms) + "\n";
  if (!Send(lines + command + "\n")) return std::nullopt;
  read_tmo_ms_ = options_.search_timeout_ms;
  addr_pad_ = addr_sad_ = -1;  // the search moves the adapter's address
  double scan = 31 * options_.search_timeout_ms / 1000.0;
  std::optional<std::string> line = Answer(
      After(options_.answer_seconds + scan),
      [](const std::string& l) { return ParseListenerList(l).has_value(); }, 0.3);
  if (line) {
    std::vector<int> listed = ParseListenerList(*line).value_or(std::vector<int>{});
    std::vector<int> found;
    for (int pad : listed)
      if (std::find(wanted.begin(), wanted.end(), pad) != wanted.end()) found.push_back(pad);
    return found;
  }
  if (!stream_->is_open()) return std::nullopt;
  // The adapter has no such search (older firmware) or gave no answer: poll
  // the addresses one by one.
  needs_resync_ = true;
  if (!Resync()) return std::nullopt;
  return ProbeListeners(wanted);
}

void PrologixDriver::FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) {
  if (!ListenerSearchArguments(board, pads, results, limit)) return;
  const std::optional<std::vector<int>> listed = ListedPrimaries(pads);
  if (!listed) return;
  std::vector<int> wanted;
  for (int pad : *listed)
    if (pad != 0) wanted.push_back(pad);

  if (!Begin()) {
    FailWithFault();
    return;
  }
  // Listeners named with the bus are each asked for their status byte
  // instead of a search of the whole bus.
  std::vector<int> named;
  for (int pad : wanted)
    if (std::find(options_.listeners.begin(), options_.listeners.end(), pad) !=
        options_.listeners.end())
      named.push_back(pad);
  std::optional<std::vector<int>> searched;
  if (options_.listeners.empty()) {
    searched = SearchListeners(wanted);
  } else if (!named.empty()) {
    searched = ProbeListeners(named);
  } else {
    searched.emplace();
  }
  if (!searched) {
    FailWithFault();
    return;
  }
  const std::vector<int>& found = *searched;
  std::vector<int> silent;
  for (int pad : options_.listeners)
    if (std::find(found.begin(), found.end(), pad) == found.end()) silent.push_back(pad);
  if (!silent.empty()) {
    Note(AdapterName() + ": no instrument answered at GPIB " + AddressesText(silent));
  } else if (found.empty()) {
    Note(AdapterName() + ": no instrument answered at any GPIB address");
  }

  ReportListeners(*listed, found, results, limit);
}

int PrologixDriver::ibclr(int ud) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (!Begin() || !Select(*descriptor, false) || !Send("++clr\n")) return FailWithFault();
  rest_.clear();
  return Ok(gpib::CMPL, 0);
}

int PrologixDriver::ibrsp(int ud, char* spr) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (spr == nullptr) return Fail(gpib::EARG);
  if (!Begin() || !Select(*descriptor, true) || !Send("++spoll\n")) return FailWithFault();
  // A failed poll: the AR488 main line prints nothing, the ESP32 line an
  // empty line. Other text is not a status byte and came unasked.
  std::optional<std::string> line =
      Answer(After(ReadSeconds(descriptor->tmo)),
             [](const std::string& l) { return Trimmed(l).empty() || StatusByte(l).has_value(); });
  if (!line) {
    if (!stream_->is_open()) return FailWithFault();
    needs_resync_ = true;  // a late answer must not be taken for the next one
    return Report(gpib::ERR | gpib::TIMO, gpib::EABO, 0);
  }
  std::optional<int> status = StatusByte(*line);
  if (!status) return Report(gpib::ERR | gpib::TIMO, gpib::EABO, 0);
  *spr = static_cast<char>(*status);
  return Ok(gpib::CMPL, 1);
}

int PrologixDriver::ibwrt(int ud, const void* buf, long count) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (count < 0 || (buf == nullptr && count > 0)) return Fail(gpib::EARG);
  if (!Begin() || !Select(*descriptor, false)) return FailWithFault();
  rest_.clear();  // a new message: what was left of a reply is abandoned
  if (count > 0 && !Send(EscapeData(static_cast<const char*>(buf), count))) return FailWithFault();
  return Ok(gpib::CMPL, count);
}

int PrologixDriver::HandOut(void* buf, long count) {
  std::size_t n = std::min(rest_.size(), static_cast<std::size_t>(count));
  std::memcpy(buf, rest_.data(), n);
  rest_.erase(0, n);
  return Ok(rest_.empty() ? gpib::CMPL | gpib::END : gpib::CMPL, static_cast<long>(n));
}

int PrologixDriver::ibrd(int ud, void* buf, long count) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (buf == nullptr || count <= 0) return Fail(gpib::EARG);
  if (!rest_.empty() && rest_pad_ == descriptor->pad && rest_sad_ == descriptor->sad)
    return HandOut(buf, count);
  rest_.clear();
  if (!Begin() || !Select(*descriptor, true) || !Send("++read eoi\n")) return FailWithFault();
  std::string reply;
  std::error_code error =
      stream_->ReadUntil(options_.eot_char, After(ReadSeconds(descriptor->tmo)), &reply);
  if (AdapterStream::IsTimeout(error)) {
    needs_resync_ = true;  // the adapter may still be reading
    return Report(gpib::ERR | gpib::TIMO, gpib::EABO, 0);
  }
  if (error == std::errc::message_size) {
    needs_resync_ = true;
    Diagnose(AdapterName() + " sent a reply without an end mark");
    return Fail(gpib::EABO);
  }
  if (error) {
    ConnectionLost("connection lost", error);
    return FailWithFault();
  }
  Recovered();  // a whole reply came: the adapter works
  DropAdapterErrorLines(reply);
  rest_ = std::move(reply);
  rest_pad_ = descriptor->pad;
  rest_sad_ = descriptor->sad;
  return HandOut(buf, count);
}

int PrologixDriver::WaitForServiceRequest(const Descriptor& descriptor, bool timed) {
  if (!Begin()) return FailWithFault();
  using SteadyClock = std::chrono::steady_clock;
  SteadyClock::time_point end =
      timed ? After(ReadSeconds(descriptor.tmo)) : SteadyClock::time_point::max();
  auto interval = std::chrono::duration_cast<SteadyClock::duration>(
      std::chrono::duration<double>(options_.srq_poll_seconds));
  SteadyClock::time_point next = SteadyClock::now();
  while (true) {
    if (!Send("++srq\n")) return FailWithFault();
    std::optional<std::string> line =
        Answer(After(options_.answer_seconds), [](const std::string& l) {
          std::string trimmed = Trimmed(l);
          return trimmed == "0" || trimmed == "1";
        });
    if (!line) {
      if (stream_->is_open()) AdapterSilent("++srq");
      return FailWithFault();
    }
    if (Trimmed(*line) == "1") return Ok(gpib::RQS | gpib::CMPL, 0);
    SteadyClock::time_point now = SteadyClock::now();
    if (now >= end) return Ok(gpib::TIMO | gpib::CMPL, 0);
    next = std::max(next + interval, now);
    double idle = std::chrono::duration<double>(next - now).count();
    // A close request ends the wait without a service request.
    if (platform_.WaitIdle(idle)) return Ok(gpib::CMPL, 0);
    std::this_thread::sleep_until(next);
  }
}

int PrologixDriver::ibwait(int ud, int mask) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if ((mask & (gpib::RQS | gpib::SRQI)) != 0)
    return WaitForServiceRequest(*descriptor, (mask & gpib::TIMO) != 0);
  if (mask == gpib::TIMO) {
    // Only the time-out (or a close request) can end this wait.
    using SteadyClock = std::chrono::steady_clock;
    SteadyClock::time_point end = After(ReadSeconds(descriptor->tmo));
    for (SteadyClock::time_point now = SteadyClock::now(); now < end; now = SteadyClock::now()) {
      SteadyClock::time_point next = std::min(end, now + std::chrono::milliseconds(50));
      if (platform_.WaitIdle(std::chrono::duration<double>(next - now).count()))
        return Ok(gpib::CMPL, 0);
      std::this_thread::sleep_until(next);
    }
    return Ok(gpib::TIMO | gpib::CMPL, 0);
  }
  // Nothing runs in the background here: every I/O call has completed.
  return Ok(gpib::CMPL, 0);
}

namespace {

// Speeds a serial port can be set to.
constexpr int kBaudRates[] = {300,    600,    1200,   2400,    4800,   9600,
                              19200,  38400,  57600,  115200,  230400, 460800,
                              500000, 576000, 921600, 1000000, 2000000};

bool SetBaud(std::string_view text, PrologixTarget& target, std::string* error) {
  std::optional<int> value = WholeNumber(text, 1, 100000000);
  if (!value ||
      std::find(std::begin(kBaudRates), std::end(kBaudRates), *value) == std::end(kBaudRates)) {
    *error = "the baud rate \"" + std::string(text) +
             "\" is not a speed a serial port takes (such as 9600 or 115200)";
    return false;
  }
  target.baud = *value;
  return true;
}

bool SetHost(std::string_view text, PrologixTarget& target, std::string* error) {
  std::optional<HostPort> where = ParseHostPort(text, target.port, error);
  if (!where) return false;
  target.host = where->host;
  target.port = where->port;
  return true;
}

// PRLGX-TCPIP[b]::HOST[::PORT]::INTFC, PRLGX-ASRL[b]::DEVICE::INTFC
std::optional<BusName> ParseVisa(const std::string& text, std::string* error) {
  std::optional<std::vector<std::string_view>> parts = VisaInterfaceParts(text, error);
  if (!parts) return std::nullopt;
  PrologixTarget target;
  if (StartsWithNoCase((*parts)[0], "prlgx-asrl")) {
    target.serial = true;
    if (parts->size() != 2 || (*parts)[1].size() < 2 || (*parts)[1][0] != '/') {
      *error = "expected PRLGX-ASRL::/dev/DEVICE::INTFC";
      return std::nullopt;
    }
    target.device = std::string((*parts)[1]);
  } else {
    if (parts->size() != 2 && parts->size() != 3) {
      *error = "expected PRLGX-TCPIP::HOST[::PORT]::INTFC";
      return std::nullopt;
    }
    std::string where(parts->at(1));
    if (parts->size() == 3) where += ":" + std::string((*parts)[2]);
    if (!SetHost(where, target, error)) return std::nullopt;
  }
  BusName bus;
  bus.target = target;
  return bus;
}

}  // namespace

std::optional<BusName> ParsePrologixName(const std::string& text, std::string* error) {
  if (!StartsWithNoCase(text, "prologix:")) return ParseVisa(text, error);
  BusName bus;
  PrologixTarget target;
  std::string_view rest = std::string_view(text).substr(std::string_view("prologix:").size());
  if (rest.substr(0, 2) == "//") {
    std::optional<std::string_view> authority =
        TakeAddressQuery(rest.substr(2), bus.listeners, error);
    if (!authority) return std::nullopt;
    if (!authority->empty() && authority->back() == '/') authority->remove_suffix(1);
    if (!SetHost(*authority, target, error)) return std::nullopt;
  } else {
    if (rest.empty() || rest[0] != '/') {
      *error = "expected prologix://HOST[:PORT] or prologix:/dev/DEVICE[:BAUD]";
      return std::nullopt;
    }
    target.serial = true;
    std::optional<std::string_view> path = TakeAddressQuery(rest, bus.listeners, error);
    if (!path) return std::nullopt;
    // A device path may hold colons itself (by-path names): only digits after
    // the last colon are a speed.
    std::size_t colon = path->rfind(':');
    if (colon != std::string_view::npos && AllDigits(path->substr(colon + 1))) {
      target.device = std::string(path->substr(0, colon));
      if (!SetBaud(path->substr(colon + 1), target, error)) return std::nullopt;
    } else {
      target.device = std::string(*path);
    }
    if (target.device.size() < 2) {
      *error = "the serial device is missing";
      return std::nullopt;
    }
  }
  bus.target = target;
  return bus;
}

std::unique_ptr<PrologixDriver> MakePrologixDriver(const BusName& bus, Platform& platform,
                                                   PrologixOptions options) {
  const PrologixTarget* target = bus.As<PrologixTarget>();
  if (target == nullptr) return nullptr;
  std::unique_ptr<AdapterStream> stream = target->serial
                                              ? MakeSerialStream(target->device, target->baud)
                                              : MakeTcpStream(target->host, target->port);
  if (options.listeners.empty()) options.listeners = bus.listeners;
  return std::make_unique<PrologixDriver>(std::move(stream), platform, std::move(options));
}

void RegisterPrologixBus(BusRegistry& registry) {
  registry.Add({"prologix",
                {"prologix:"},
                {"PRLGX-TCPIP", "PRLGX-ASRL"},
                {"prologix://HOST[:PORT]", "prologix:DEVICE[:BAUD]",
                 "PRLGX-TCPIP::HOST::PORT::INTFC", "PRLGX-ASRL::DEVICE::INTFC"},
                {"prologix://HOST[:PORT] a Prologix GPIB-ETHERNET, or an AR488 on the network,",
                 "                       port 1234 unless given (IPv6 in brackets);",
                 "                       e.g. prologix://192.168.1.50, prologix://127.0.0.1:40123",
                 "prologix:DEVICE[:BAUD] a Prologix GPIB-USB or an AR488 on a serial port, 115200",
                 "                       baud unless given; e.g. prologix:/dev/ttyUSB0",
                 "...?addr=A[,B...]      after a prologix name: the instruments' GPIB addresses,",
                 "                       polled instead of a search of the bus (a Prologix has",
                 "                       none); e.g. prologix:/dev/ttyUSB0?addr=1",
                 "PRLGX-TCPIP::HOST::PORT::INTFC   as prologix://HOST:PORT;",
                 "                       e.g. PRLGX-TCPIP::192.168.1.50::1234::INTFC",
                 "PRLGX-ASRL::DEVICE::INTFC        as prologix:DEVICE;",
                 "                       e.g. PRLGX-ASRL::/dev/ttyUSB0::INTFC"},
                ParsePrologixName,
                [](const BusName& bus, const BusEnv& env) -> std::unique_ptr<GpibDriver> {
                  PrologixOptions options;
                  options.diagnostic = env.diagnostic;
                  return MakePrologixDriver(bus, env.platform, std::move(options));
                }});
}

}  // namespace kc
