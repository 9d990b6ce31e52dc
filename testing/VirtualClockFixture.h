// VirtualClockScope: installs a VirtualClock as Clock::current() for its
// lifetime and puts the previous clock back afterwards; VirtualClockFixture
// is the gtest fixture holding one.
//
//   class RetryTest : public testkit::VirtualClockFixture {};
//   TEST_F(RetryTest, BacksOff) { ...; clock->advance(3600); ... }
//
// Thread safety: installing and restoring are not meant to race with other
// threads reading Clock::current() for the first time.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "platform/time/Clock.h"

namespace testkit {

class VirtualClockScope {
 public:
  explicit VirtualClockScope(std::shared_ptr<platform::VirtualClock> clock =
                                 std::make_shared<platform::VirtualClock>())
      : m_clock(std::move(clock)), m_previous(platform::Clock::current()) {
    platform::Clock::setCurrent(m_clock);
  }
  ~VirtualClockScope() { platform::Clock::setCurrent(m_previous); }
  VirtualClockScope(const VirtualClockScope&) = delete;
  VirtualClockScope& operator=(const VirtualClockScope&) = delete;

  const std::shared_ptr<platform::VirtualClock>& clock() const { return m_clock; }

 private:
  std::shared_ptr<platform::VirtualClock> m_clock;
  std::shared_ptr<platform::Clock> m_previous;
};

class VirtualClockFixture : public ::testing::Test {
 protected:
  VirtualClockScope clockScope;
  std::shared_ptr<platform::VirtualClock> clock = clockScope.clock();
};

}  // namespace testkit
