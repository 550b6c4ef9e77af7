#include "platform/clock.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

namespace kc {

namespace {
double MonotonicSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

RealClock::RealClock() : start_(MonotonicSeconds()) {}

double RealClock::SecondsSinceMidnight() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm local{};
  time_t secs = ts.tv_sec;
  localtime_r(&secs, &local);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
         static_cast<double>(ts.tv_nsec) * 1e-9;
}

double RealClock::Elapsed() {
  return MonotonicSeconds() - start_;
}

void RealClock::Pass(double seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

double VirtualClock::SecondsSinceMidnight() {
  return std::fmod(start_ + elapsed_, 86400.0);
}

void VirtualClock::Pass(double seconds) {
  if (seconds > 0) elapsed_ += seconds;
}

}  // namespace kc
