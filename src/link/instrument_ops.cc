#include "link/instrument_ops.h"

#include <algorithm>
#include <cctype>

namespace kc {

namespace {

constexpr Integer kBoard = 0;
constexpr std::size_t kReadChunk = 512;
constexpr std::size_t kIdReplySize = 256;
// A reply that has not ended after this many chunks is taken as a failed read:
// no reply of the instrument comes near it, and a back end that keeps handing
// out chunks without END or TIMO must not hold the program for ever.
constexpr int kMaxReadChunks = 256;
constexpr double kSecondsPerDay = 86400.0;
constexpr Single kQueryPause = 0.1f;
constexpr Single kSettlePause = 0.1f;

const char kLf[] = "\n";
const char kRestart[] = "Correct problem and restart.";

// Signed number text of a whole number: a leading blank for 0 and above.
std::string SignedText(int value) {
  return (value >= 0 ? " " : "") + std::to_string(value);
}

bool HasBit(Integer status, int bit) {
  return (status & bit) != 0;
}

std::string TrimBlanks(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

bool IsLineEnd(char c) {
  return c == '\n' || c == '\r';
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Removes `marker` from the front of `text`; true when it was there.
bool TakeLeading(std::string& text, char marker) {
  if (text.empty() || text.front() != marker) return false;
  text.erase(0, 1);
  return true;
}

bool TakeTrailing(std::string& text, char marker) {
  if (text.empty() || text.back() != marker) return false;
  text.pop_back();
  return true;
}

}  // namespace

void InstrumentOps::WriteDev(Integer& dev, const std::string& command) {
  GpibErrorFlag = 0;
  if (dev == 0) DeviceNotConfigured();
  gpib_.ibwrt(dev, command);
  CheckGpibError();
}

std::string InstrumentOps::QueryDev(Integer& dev, const std::string& command) {
  if (dev == 0) DeviceNotConfigured();
  WriteDev(dev, command);
  Delay(kQueryPause);
  if (GpibErrorFlag != 0) return {};
  return ReadDev(dev);
}

std::string InstrumentOps::ReadDev(Integer& dev) {
  if (dev == 0) DeviceNotConfigured();

  Integer saved_timeout = gpib::T3s;
  gpib_.ibask(dev, gpib::IbaTMO, saved_timeout);
  // When the descriptor cannot tell its time-out, the read time-out is set
  // and left in place afterwards.
  const bool timeout_known = !HasBit(gpib_.ibsta, gpib::ERR);
  if (!timeout_known) saved_timeout = gpib::T3s;
  if (!timeout_known || saved_timeout != gpib::T3s) gpib_.ibtmo(dev, gpib::T3s);

  std::string reply;
  int chunks = 0;
  while (true) {
    std::string buffer(kReadChunk, ' ');
    gpib_.ibwait(dev, static_cast<Integer>(gpib::TIMO | gpib::CMPL));
    gpib_.ibrd(dev, buffer);
    // A time-out ends the read. So does any other error: without END the
    // driver would be asked again and again for a reply that cannot come.
    if (HasBit(gpib_.ibsta, gpib::TIMO) || HasBit(gpib_.ibsta, gpib::ERR)) {
      chunks = 0;
      break;
    }
    reply += TrimBlanks(buffer);
    ++chunks;
    if (HasBit(gpib_.ibsta, gpib::END)) break;
    if (chunks >= kMaxReadChunks) {
      chunks = 0;
      break;
    }
  }

  gpib_.ibtmo(dev, saved_timeout);

  if (chunks == 0) {
    platform_.MessageBox(std::string("Read cycle failed") + kLf + "Operation aborted.", "I/O Error",
                         MsgIcon::kExclamation, MsgButtons::kOk);
    return {};
  }

  // Drop the line end: CR LF or LF (or a lone CR).
  if (reply.size() >= 2 && IsLineEnd(reply[reply.size() - 2])) reply.pop_back();
  for (int i = 0; i < 2 && !reply.empty() && IsLineEnd(reply.back()); ++i) reply.pop_back();
  return reply;
}

void InstrumentOps::Delay(Single seconds) {
  platform_.NoteOwnWait(seconds);
  Clock& clock = platform_.clock();
  // The clock is read in double precision: in single precision a reading late
  // in the day is good to only about 8 ms, which would stretch or cut the short
  // waits (the 0.1 s between a query and its read) by as much.
  const double t0 = clock.SecondsSinceMidnight();
  // The clock restarts at 0 at midnight; every restart seen during the wait
  // adds a day so that the readings keep rising. A step back of less than half
  // a day is a clock correction, not midnight.
  double previous = t0;
  double days = 0;
  auto now = [&]() {
    double reading = clock.SecondsSinceMidnight();
    if (reading < previous - kSecondsPerDay / 2) days += kSecondsPerDay;
    previous = reading;
    return reading + days;
  };
  while (t0 + seconds > now()) platform_.PumpEvents();
}

std::string InstrumentOps::GpibErrorText(int iberr) {
  switch (iberr) {
    case gpib::EDVR:
      return "Operating system error.";
    case gpib::ECIC:
      return "Function requires GPIB board to be CIC.";
    case gpib::ENOL:
      return "No listener on write function.";
    case gpib::EADR:
      return "GPIB board not addressed correctly.";
    case gpib::EARG:
      return "Invalid argument to function call.";
    case gpib::ESAC:
      return "GPIB board not system controller as required.";
    case gpib::EABO:
      return "I/O operation aborted - timeout.";
    case gpib::ENEB:
      return "Non-existent GPIB board.";
    case gpib::EOIP:
      return "Asynchronous I/O in progress.";
    case gpib::ECAP:
      return "No capability for operation.";
    case gpib::EFSO:
      return "File system error.";
    case gpib::EBUS:
      return "GPIB bus eror.";
    case gpib::ESTB:
      return "Serial poll status queue owerflow.";
    case gpib::ESRQ:
      return "SRQ stuck in on position.";
    case gpib::ETAB:
      return "Table problem.";
    default:
      return "Unknown error.";
  }
}

void InstrumentOps::CheckGpibError() {
  if (!HasBit(gpib_.ibsta, gpib::ERR)) return;
  int error = gpib_.iberr;
  MsgAnswer answer = platform_.MessageBox(
      GpibErrorText(error) + kLf + "Select OK to continue or Cancel to terminate program.",
      "GPIB ERROR #" + SignedText(error), MsgIcon::kExclamation, MsgButtons::kOkCancel);
  if (answer == MsgAnswer::kCancel) platform_.EndProcess(kExitFatal);
  GpibErrorFlag = -1;
}

void InstrumentOps::FindListeners(Integer mode) {
  Listeners.fill(0);
  FreeListeners.fill(0);

  std::array<Integer, 33> address_list{};
  for (Integer i = 1; i <= 30; ++i) address_list[static_cast<std::size_t>(i)] = i;
  address_list[31] = static_cast<Integer>(gpib::NOADDR);
  address_list[32] = 0;

  gpib_.SendIFC(kBoard);
  gpib_.ibsre(kBoard, 1);
  // The driver's answer goes to a scratch table first, so that the tables
  // stay zero when discovery fails.
  std::array<Integer, 15> found{};
  gpib_.FindLstn(kBoard, address_list.data(), found.data(), static_cast<Integer>(found.size()));

  if (!HasBit(gpib_.ibsta, gpib::ERR)) {
    // Entry 0 answers for address 0, the controller itself; the instruments
    // follow it up to the first 0.
    Integer count = 0;
    for (std::size_t i = 1; i < found.size(); ++i) {
      Listeners[i] = found[i];
      FreeListeners[i] = found[i];
      if (found[i] == 0) break;
      ++count;
    }
    Listeners[0] = count;
    FreeListeners[0] = count;
    return;
  }

  int error = gpib_.iberr;
  std::string message;
  if (error == gpib::EBUS) {
    if (mode == -1) return;
    message = "No listeners found.";
  } else if (error == gpib::ETAB) {
    message = std::string("Too many listeners found.") + kLf + "Max 14 listeners allowed.";
  }
  if (mode == 1 || error != gpib::EBUS) message += std::string(kLf) + kLf + kRestart;
  if (!message.empty()) {
    platform_.MessageBox(message, "Initialization Error" + SignedText(error), MsgIcon::kCritical,
                         MsgButtons::kOk);
  }
  if (mode == 1) platform_.EndProcess(kExitFatal);
}

Integer InstrumentOps::FindDevice(std::string& id_query, std::string& expected) {
  if (SpareDevice[0] == 0) SpareDevice[1] = gpib_.ibdev(kBoard, 1, 0, gpib::T1s, 1, 0);
  const Integer spare = SpareDevice[1];
  const std::size_t listener_count = static_cast<std::size_t>(std::clamp<int>(Listeners[0], 0, 14));

  if (id_query.empty()) {
    // The first listener, without asking anybody.
    Integer poll = 0;
    for (std::size_t i = 1; i <= listener_count; ++i) {
      gpib_.ibpad(spare, Listeners[i]);
      gpib_.ibrsp(spare, poll);
    }
    gpib_.ibpad(spare, Listeners[1]);
    ListenerDevice[1] = spare;
    gpib_.ibtmo(spare, DefaultTimeout);
    // The descriptor is handed out: the next search must not move it.
    SpareDevice[0] = 0;
    CheckGpibError();
    return spare;
  }

  const bool no_clear = TakeLeading(id_query, '!');
  const bool go_on = TakeTrailing(id_query, '!');
  const bool silent = TakeLeading(expected, '!');
  const bool settle = TakeLeading(expected, '?');
  const bool exact = TakeTrailing(expected, '!');

  if (FreeListeners[0] == 0) {
    if (silent) {
      // Nobody was asked: the descriptor stays spare for the next search.
      SpareDevice[0] = -1;
      return 0;
    }
    platform_.MessageBox(
        "Can't find more than" + SignedText(Listeners[0]) + " device(s)." + kLf + kLf + kRestart,
        "Not enough devices on the bus", MsgIcon::kCritical, MsgButtons::kOk);
    platform_.EndProcess(kExitFatal);
  }

  const std::string expected_upper = Upper(expected);
  std::string received;
  for (std::size_t i = 1; i <= listener_count; ++i) {
    if (FreeListeners[i] <= 0) continue;
    gpib_.ibpad(spare, FreeListeners[i]);
    if (!no_clear) gpib_.ibclr(spare);
    Integer poll = 0;
    gpib_.ibrsp(spare, poll);
    if (settle) Delay(kSettlePause);
    gpib_.ibwrt(spare, id_query);
    std::string buffer(kIdReplySize, ' ');
    gpib_.ibrd(spare, buffer);

    std::string reply = TrimBlanks(buffer);
    if (!reply.empty() && reply.back() == '\n') reply.pop_back();
    if (!reply.empty() && reply.back() == '\r') reply.pop_back();

    bool match = exact ? reply == expected : Upper(reply).find(expected_upper) != std::string::npos;
    if (match) {
      FreeListeners[i] = 0;
      FreeListeners[0] = static_cast<Integer>(FreeListeners[0] - 1);
      ListenerDevice[i] = spare;
      gpib_.ibtmo(spare, DefaultTimeout);
      SpareDevice[0] = 0;
      return spare;
    }
    if (HasBit(gpib_.ibsta, gpib::ERR)) gpib_.ibclr(spare);
    received = reply + kLf + received;
  }

  SpareDevice[0] = -1;
  if (!silent) {
    std::string prompt = "ID Query: " + id_query + kLf + kLf + "Expected Response: " + expected +
                         kLf + kLf + "Received Response(s):" + kLf + received + kLf +
                         "Correct the problem and re" +
                         (go_on ? "try. Program will continue." : "start. Program will end.");
    platform_.MessageBox(prompt,
                         "Expected Id-response from device not found" + std::string(40, ' '),
                         MsgIcon::kCritical, MsgButtons::kOk);
    if (!go_on) platform_.EndProcess(kExitFatal);
  }
  return 0;
}

Integer InstrumentOps::DeviceAddress(Integer& dev) {
  const auto listener_count = static_cast<std::size_t>(std::clamp<int>(Listeners[0], 0, 14));
  for (std::size_t i = 1; i <= listener_count; ++i) {
    // An unclaimed listener has no descriptor (0); it never answers for one.
    if (ListenerDevice[i] != 0 && ListenerDevice[i] == dev) return Listeners[i];
  }
  platform_.MessageBox("Device not found", "Error", MsgIcon::kInformation, MsgButtons::kOk);
  return 0;
}

void InstrumentOps::DeviceNotConfigured() {
  platform_.MessageBox(std::string("Device not configured.") + kLf + kLf + kRestart, "Device Error",
                       MsgIcon::kCritical, MsgButtons::kOk);
  platform_.EndProcess(kExitFatal);
}

}  // namespace kc
