// LogCapture: installs a capturing log sink for one test and restores the
// previous sink afterwards. Use it as a fixture member, or derive from
// LogCaptureTest.
//
//   testkit::LogCapture logs;
//   ...
//   EXPECT_TRUE(logs.contains("I-REA902003"));
//
// Thread safety: records may arrive from any thread; queries are safe at any
// time.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log/CapturingLogSink.h"
#include "platform/log/ScopedLogSink.h"

namespace testkit {

class LogCapture {
 public:
  LogCapture() : m_sink(std::make_shared<platform::CapturingLogSink>()), m_scope(m_sink) {}

  platform::CapturingLogSink& sink() { return *m_sink; }
  std::vector<platform::LogRecord> records() const { return m_sink->records(); }
  std::vector<std::string> texts() const { return m_sink->texts(); }
  bool contains(std::string_view fragment) const { return m_sink->contains(fragment); }
  size_t count() const { return m_sink->count(); }
  void clear() { m_sink->clear(); }

 private:
  std::shared_ptr<platform::CapturingLogSink> m_sink;
  platform::ScopedLogSink m_scope;
};

class LogCaptureTest : public ::testing::Test {
 protected:
  LogCapture logs;
};

}  // namespace testkit
