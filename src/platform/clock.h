// Time for the checkout: seconds since midnight, either from the wall clock or
// from a virtual clock under which waits pass at once but are accounted exactly.
#pragma once

namespace kc {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since local midnight, 0 <= t < 86400, with sub-second resolution.
  virtual double SecondsSinceMidnight() = 0;
  // Seconds since the clock was made; never wraps. For bus deadlines.
  virtual double Elapsed() = 0;
  // Lets `seconds` pass: a real clock sleeps, a virtual clock moves forward.
  virtual void Pass(double seconds) = 0;
  virtual bool is_virtual() const = 0;
};

class RealClock : public Clock {
 public:
  RealClock();
  double SecondsSinceMidnight() override;
  double Elapsed() override;
  void Pass(double seconds) override;
  bool is_virtual() const override { return false; }

 private:
  double start_;
};

class VirtualClock : public Clock {
 public:
  // `start` is the time of day at which the virtual run begins.
  explicit VirtualClock(double start = 9 * 3600.0) : start_(start) {}
  double SecondsSinceMidnight() override;
  double Elapsed() override { return elapsed_; }
  void Pass(double seconds) override;
  bool is_virtual() const override { return true; }

 private:
  double start_;
  double elapsed_ = 0;
};

}  // namespace kc
