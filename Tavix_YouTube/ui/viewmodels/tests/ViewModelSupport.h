// Shared fixture of the view-model tests: a bundle with a chosen language,
// recorded usage events, captured console lines, a memory pasteboard and a
// recording workspace; the main queue is pumped by the test thread.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"
#include "platform/app/Bundle.h"
#include "platform/app/MemoryPasteboard.h"
#include "platform/app/RecordingWorkspace.h"
#include "platform/app/Workspace.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/log/ConsoleCapture.h"

namespace uitest {

// The build's bundle folder, beside bin/ (APP_RESOURCES when set).
inline std::string bundlePath() { return platform::Bundle::defaultResourcePath(); }

// A bundle folder holding only a strings table (for tables the shipped one
// must not have, such as duplicate names).
class ScratchBundle {
 public:
  explicit ScratchBundle(const std::string& json) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavix-ui-bundle-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a scratch bundle folder");
    m_path = pattern;
    std::filesystem::create_directories(m_path / "en.lproj");
    std::ofstream(m_path / "en.lproj" / "Localizable.json") << json;
  }
  ~ScratchBundle() { std::filesystem::remove_all(m_path); }
  std::string path() const { return m_path.string(); }

 private:
  std::filesystem::path m_path;
};

class ViewModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useBundle(bundlePath(), "en");
    MyAnalytics::setSink([this](const std::string& name, const platform::Dictionary& parameters) {
      events.push_back(name);
      eventParameterCounts.push_back(parameters.size());
      journal.push_back("event:" + name);
    });
    workspace = std::make_shared<platform::RecordingWorkspace>();
    platform::Workspace::setShared(workspace);
  }
  void TearDown() override {
    platform::MainQueue::drain();
    MyAnalytics::setSink(nullptr);
    platform::Workspace::setShared(nullptr);
    platform::Bundle::setMain(nullptr);
  }
  static void useBundle(const std::string& path, const std::string& language) {
    platform::Bundle::setMain(std::make_shared<platform::Bundle>(path, std::vector<std::string>{language}));
  }
  bool consoleHas(const std::string& line) const {
    for (const auto& l : console.lines()) {
      if (l == line) return true;
    }
    return false;
  }

  std::vector<std::string> events;
  std::vector<size_t> eventParameterCounts;
  std::vector<std::string> journal;  // events and effects, in order
  platform::ConsoleCapture console;
  std::shared_ptr<platform::MemoryPasteboard> pasteboard = std::make_shared<platform::MemoryPasteboard>();
  std::shared_ptr<platform::RecordingWorkspace> workspace;
};

}  // namespace uitest
