#include "link/gpib_driver.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kc {

double gpib::TimeoutSeconds(int code) {
  static constexpr std::array<double, 18> kSeconds = {0,    10e-6, 30e-6, 100e-6, 300e-6, 1e-3,
                                                      3e-3, 10e-3, 30e-3, 100e-3, 300e-3, 1,
                                                      3,    10,    30,    100,    300,    1000};
  if (code < 0 || code >= static_cast<int>(kSeconds.size())) return 0;
  return kSeconds[static_cast<std::size_t>(code)];
}

int gpib::TimeoutCodeNear(double ms) {
  double wanted = std::log(std::max(ms, 1.0) / 1000.0);
  int best = T1s;
  double best_distance = 1e9;
  for (int code = 1; code <= 17; ++code) {
    double distance = std::fabs(std::log(TimeoutSeconds(code)) - wanted);
    if (distance < best_distance) {
      best = code;
      best_distance = distance;
    }
  }
  return best;
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

bool GpibDriverBase::ListenerSearchArguments(int board, const Addr4882_t* pads,
                                             const Addr4882_t* results, int limit) {
  if (board != 0) {
    Fail(gpib::ENEB);
    return false;
  }
  if (pads == nullptr || results == nullptr || limit < 1) {
    Fail(gpib::EARG);
    return false;
  }
  return true;
}

std::optional<std::vector<int>> GpibDriverBase::ListedPrimaries(const Addr4882_t* pads) {
  std::vector<int> listed;
  for (int i = 0; pads[i] != gpib::NOADDR; ++i) {
    const int pad = pads[i] & 0xFF;
    if (i > 255 || pad > 30 || (pads[i] >> 8) != 0) {
      Fail(gpib::EARG);
      return std::nullopt;
    }
    if (std::find(listed.begin(), listed.end(), pad) == listed.end()) listed.push_back(pad);
  }
  return listed;
}

void GpibDriverBase::ReportListeners(const std::vector<int>& listed, const std::vector<int>& found,
                                     Addr4882_t* results, int limit) {
  std::vector<int> answer;
  for (int pad : listed)
    if (pad == 0 || std::find(found.begin(), found.end(), pad) != found.end())
      answer.push_back(pad);
  int count = static_cast<int>(answer.size());
  for (int i = 0; i < std::min(count, limit); ++i)
    results[i] = static_cast<Addr4882_t>(answer[static_cast<std::size_t>(i)]);
  bool instruments = std::any_of(answer.begin(), answer.end(), [](int pad) { return pad != 0; });
  if (count > limit) {
    Report(gpib::ERR, gpib::ETAB, limit);
  } else if (!instruments) {
    Report(gpib::ERR, gpib::EBUS, count);
  } else {
    Report(gpib::CMPL, 0, count);
  }
}

int GpibDriverBase::Report(int status, int error, long count) {
  if (status_ != nullptr) *status_ = status;
  if (error_ != nullptr) *error_ = error;
  if (count_ != nullptr) *count_ = static_cast<std::int32_t>(count);
  if (count_long_ != nullptr) *count_long_ = static_cast<std::int32_t>(count);
  return status;
}

}  // namespace kc
