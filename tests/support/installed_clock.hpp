// Installs a test clock for the life of its owner and puts back the one it
// replaced. Made the owner's last member: installed once the rest of the clock
// is built, put back before any of it goes. Not copyable, nor is its owner.
#pragma once

namespace testsupport {

template <class Base, Base* (*Install)(Base*)>
class InstalledClock {
  public:
    explicit InstalledClock(Base* clock) : replaced_(Install(clock)) {}
    ~InstalledClock() { Install(replaced_); }
    InstalledClock(const InstalledClock&) = delete;
    InstalledClock& operator=(const InstalledClock&) = delete;

  private:
    Base* replaced_;
};

}  // namespace testsupport
