#include "record/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

namespace kc {

namespace {

std::string Reason(const std::string& what, int error_number) {
  return what + ": " + std::strerror(error_number);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& file, std::string_view data,
                         std::string& error) {
  const std::filesystem::path folder =
      file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    error = "cannot create the folder " + folder.string() + ": " + ec.message();
    return false;
  }
  // A hidden name that no reader of *.json files picks up.
  std::string pattern = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
  std::vector<char> temp(pattern.begin(), pattern.end());
  temp.push_back('\0');
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = Reason("cannot create a file in " + folder.string(), errno);
    return false;
  }
  const std::string temp_name(temp.data());
  auto fail = [&](const std::string& what) {
    error = Reason(what, errno);
    ::close(fd);
    ::unlink(temp_name.c_str());
    return false;
  };
  if (::fchmod(fd, 0644) != 0) return fail("cannot set the mode of " + temp_name);
  if (!WriteAll(fd, data)) return fail("cannot write " + temp_name);
  if (::fsync(fd) != 0) return fail("cannot flush " + temp_name);
  if (::close(fd) != 0) {
    error = Reason("cannot close " + temp_name, errno);
    ::unlink(temp_name.c_str());
    return false;
  }
  if (::rename(temp_name.c_str(), file.c_str()) != 0) {
    error = Reason("cannot rename " + temp_name + " to " + file.string(), errno);
    ::unlink(temp_name.c_str());
    return false;
  }
  // The rename itself lives in the folder: flush it too. A file system that
  // cannot flush a folder has already made the rename durable.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace kc
