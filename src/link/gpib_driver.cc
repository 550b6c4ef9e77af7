#include "link/gpib_driver.h"

#include <array>

namespace kc {

double gpib::TimeoutSeconds(int code) {
  static constexpr std::array<double, 18> kSeconds = {0,    10e-6, 30e-6, 100e-6, 300e-6, 1e-3,
                                                      3e-3, 10e-3, 30e-3, 100e-3, 300e-3, 1,
                                                      3,    10,    30,    100,    300,    1000};
  if (code < 0 || code >= static_cast<int>(kSeconds.size())) return 0;
  return kSeconds[static_cast<std::size_t>(code)];
}

int GpibDriverBase::RegisterGpibGlobalsForThread(std::int32_t* status, std::int32_t* error,
                                                 std::int32_t* count, std::int32_t* count_long) {
  int result = status_ != nullptr ? 1 : 0;
  status_ = status;
  error_ = error;
  count_ = count;
  count_long_ = count_long;
  return result;
}

int GpibDriverBase::UnregisterGpibGlobalsForThread() {
  status_ = error_ = count_ = count_long_ = nullptr;
  return 0;
}

int GpibDriverBase::Report(int status, int error, long count) {
  if (status_ != nullptr) *status_ = status;
  if (error_ != nullptr) *error_ = error;
  if (count_ != nullptr) *count_ = static_cast<std::int32_t>(count);
  if (count_long_ != nullptr) *count_long_ = static_cast<std::int32_t>(count);
  return status;
}

}  // namespace kc
