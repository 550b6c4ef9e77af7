#include "support/program_run.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace kc {

namespace {

constexpr double kHangSeconds = 120;
using SteadyClock = std::chrono::steady_clock;

SteadyClock::time_point In(double seconds) {
  return SteadyClock::now() +
         std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(seconds));
}

// Waits until `fd` is readable; false when `deadline` passes first.
bool Readable(int fd, SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
  pollfd entry{fd, POLLIN, 0};
  return left.count() > 0 && ::poll(&entry, 1, static_cast<int>(left.count())) > 0;
}

// "[screen 10]          calbrator-signal  PASS" -> 10 and the text after "] ".
void ReadScreen(const std::string& out, std::map<int, std::string>& screen) {
  std::istringstream lines(out);
  const std::string tag = "[screen ";
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(tag, 0) != 0) continue;
    std::size_t close = line.find("] ");
    if (close == std::string::npos || close <= tag.size()) continue;
    std::string number = line.substr(tag.size(), close - tag.size());
    if (number.find_first_not_of("0123456789") != std::string::npos) continue;
    screen[std::stoi(number)] = line.substr(close + 2);
  }
}

std::string Built(const char* name) {
  const char* dir = std::getenv("KC_BIN_DIR");
  if (dir == nullptr) return {};
  std::string path = std::string(dir) + "/" + name;
  return ::access(path.c_str(), X_OK) == 0 ? path : std::string();
}

int LoopbackSocket(int* port, bool listening) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      (listening && ::listen(fd, 8) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

std::string ProgramRun::Line(int line) const {
  auto it = screen.find(line);
  return it == screen.end() ? std::string() : it->second;
}

std::string ProgramRun::Screen() const {
  std::string text;
  for (auto it = screen.rbegin(); it != screen.rend(); ++it) {
    text += std::to_string(it->first) + ": " + it->second + "\n";
  }
  return text + err;
}

std::string ProgramPath() {
  return Built("kalventa-checkout");
}

std::vector<std::string> ReadmeCommand(const std::string& marker) {
  std::ifstream file(std::string(KC_SOURCE_DIR) + "/README.md");
  std::stringstream text;
  text << file.rdbuf();
  const std::string readme = text.str();
  const std::string open = "<!-- " + marker + " -->\n```sh\n";
  std::size_t begin = readme.find(open);
  std::size_t end = readme.find("```\n<!-- /" + marker + " -->");
  if (begin == std::string::npos || end == std::string::npos || end < begin) return {};
  std::string command = readme.substr(begin + open.size(), end - begin - open.size());
  for (std::size_t at; (at = command.find("\\\n")) != std::string::npos;) command.erase(at, 2);
  std::istringstream words(command);
  std::vector<std::string> args;
  for (std::string word; words >> word;) args.push_back(word);
  if (args.size() < 3 || args.front() != "build/kalventa-checkout" ||
      args[args.size() - 2] != "<" || args.back() != "/dev/null")
    return {};
  return std::vector<std::string>(args.begin() + 1, args.end() - 2);
}

ProgramRun RunProgram(const std::vector<std::string>& args) {
  ProgramRun run;
  std::string binary = ProgramPath();
  harness::ScratchDir work;
  if (binary.empty()) return run;
  {
    harness::Process program(binary, args, work.Path("out"), work.Path("err"));
    run.code = program.Wait(kHangSeconds);
  }
  run.out = harness::ReadFile(work.Path("out"));
  run.err = harness::ReadFile(work.Path("err"));
  ReadScreen(run.out, run.screen);
  return run;
}

namespace harness {

std::string SimProgramPath() {
  return Built("kalventa-sim");
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool WaitFor(const std::function<bool()>& done, double seconds) {
  const SteadyClock::time_point end = In(seconds);
  while (!done()) {
    if (SteadyClock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

Process::Process(const std::string& binary, const std::vector<std::string>& args,
                 const std::string& out_path, const std::string& err_path) {
  std::vector<std::string> argv_text = {binary};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(125);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execv(binary.c_str(), argv.data());
    ::_exit(126);
  }
}

Process::~Process() {
  if (!running()) return;
  ::kill(pid_, SIGKILL);
  Wait(kHangSeconds);
}

void Process::Signal(int signal_number) {
  if (running()) ::kill(pid_, signal_number);
}

int Process::Wait(double seconds) {
  if (pid_ <= 0) return -1;
  if (!status_) {
    int status = 0;
    if (!WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, seconds)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      status_ = -1;
      return -1;
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return *status_;
}

ScratchDir::ScratchDir() {
  char dir_template[] = "/tmp/kc_test_XXXXXX";
  if (::mkdtemp(dir_template) != nullptr) dir_ = dir_template;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

int ListenLoopback(int* port) {
  return LoopbackSocket(port, true);
}
int RefusingLoopback(int* port) {
  return LoopbackSocket(port, false);
}

int ConnectLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
    return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

bool SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadUntil(int fd, const std::string& end, double seconds, std::string* text) {
  const SteadyClock::time_point deadline = In(seconds);
  while (text->size() < end.size() || text->compare(text->size() - end.size(), end.size(), end)) {
    char buffer[512];
    ssize_t n = Readable(fd, deadline) ? ::recv(fd, buffer, sizeof buffer, 0) : -1;
    if (n <= 0) return false;
    text->append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

bool ClosedByPeer(int fd, double seconds) {
  char byte = 0;
  if (!Readable(fd, In(seconds))) return false;
  ssize_t n = ::recv(fd, &byte, 1, 0);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

}  // namespace harness
}  // namespace kc
