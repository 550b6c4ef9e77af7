#include "support/program_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kc {

namespace {

constexpr unsigned kHangSeconds = 120;

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
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
  const char* dir = std::getenv("KC_BIN_DIR");
  if (dir == nullptr) return {};
  std::string path = std::string(dir) + "/kalventa-checkout";
  return access(path.c_str(), X_OK) == 0 ? path : std::string();
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
  char dir_template[] = "/tmp/kc_e2e_XXXXXX";
  if (binary.empty() || mkdtemp(dir_template) == nullptr) return run;
  std::string work = dir_template;
  std::string out_path = work + "/out";
  std::string err_path = work + "/err";
  pid_t child = fork();
  if (child == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(125);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    alarm(kHangSeconds);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(126);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.code = WEXITSTATUS(status);
  }
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  ReadScreen(run.out, run.screen);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  rmdir(work.c_str());
  return run;
}

}  // namespace kc
