// Shared fixture of the engine tests: a temporary home, a test bundle folder
// whose "yt-dlp" is the fake downloader (or, for end-to-end tests, the real
// one), the English strings table, captured console lines and a main-queue
// pump.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Tavix_YouTube/engine/DownloadManager.h"
#include "platform/app/Bundle.h"
#include "platform/log/ConsoleCapture.h"
#include "platform/storage/FileSystem.h"
#include "testing/BuildPaths.h"
#include "testing/MainQueuePump.h"
#include "testing/TempHome.h"
#include "testing/ScopedEnvironment.h"

namespace enginetest {

// The build and source folders this test program was built from (never the
// caller's environment).
inline std::string binaryDir() { return testkit::binaryDir(); }
inline std::string sourceDir() { return testkit::sourceDir(); }

class EngineTest : public testkit::MainQueuePump {
 protected:
  void SetUp() override {
    bundle = home.file("bundle");
    ASSERT_FALSE(platform::fs::createDirectory(bundle));
    link(sourceDir() + "/resources/en.lproj", "en.lproj");
    scenario = home.file("scenario.txt");
    record = home.file("argv.jsonl");
    environment.set("FAKE_DOWNLOADER_SCENARIO", scenario);
    environment.set("FAKE_DOWNLOADER_RECORD", record);
    platform::Bundle::setMain(std::make_shared<platform::Bundle>(bundle, std::vector<std::string>{"en"}));
    downloads = home.file("Downloads");
    ASSERT_FALSE(platform::fs::createDirectory(downloads));
  }
  void TearDown() override {
    if (manager) {
      for (const auto& item : manager->downloads.get()) item->cancel();
      // Title queries too: each holds its process until its end reaches the main queue.
      runUntil([&] { return manager->currentDownloadCount() == 0 && manager->titleQueryCount() == 0; });
    }
    testkit::MainQueuePump::TearDown();
    manager.reset();
    platform::Bundle::setMain(nullptr);
  }

  void link(const std::string& target, const std::string& name) {
    ASSERT_EQ(::symlink(target.c_str(), (bundle + "/" + name).c_str()), 0) << name;
  }
  void useFakeDownloader() { link(binaryDir() + "/bin/fake-downloader", "yt-dlp"); }
  void writeScenario(const std::string& text) { ASSERT_FALSE(platform::fs::writeFile(scenario, text)); }

  // Argument vectors of every downloader run so far, each as its JSON line.
  std::vector<std::string> recordedRuns() const {
    std::vector<std::string> runs;
    std::ifstream in(record);
    for (std::string line; std::getline(in, line);) runs.push_back(line);
    return runs;
  }
  bool printed(const std::string& line) const {
    auto lines = console.lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::shared_ptr<tavix::DownloadItem> add(const std::string& url, tavix::Quality quality = tavix::Quality::p720) {
    if (!manager) manager = tavix::DownloadManager::create();
    manager->addDownload(url, quality);
    return manager->downloads.get().back();
  }
  bool settled() const {
    for (const auto& item : manager->downloads.get()) {
      auto status = item->status.get();
      if (status == tavix::DownloadStatus::queued || status == tavix::DownloadStatus::downloading) return false;
    }
    return manager->currentDownloadCount() == 0;
  }

  testkit::TempHome home;
  testkit::ScopedEnvironment environment;
  platform::ConsoleCapture console;
  std::string bundle, scenario, record, downloads;
  std::shared_ptr<tavix::DownloadManager> manager;
};

}  // namespace enginetest
