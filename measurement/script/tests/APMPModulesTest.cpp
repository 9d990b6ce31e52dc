// The modules programs reach through require: the settings' remote values,
// app metadata and logger (through the settings that build the editing
// instance), the platform version, and the registry's caching.
#include <gtest/gtest.h>

#include <string>

#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/base/tests/RemoteConfigTestSupport.h"
#include "measurement/script/APMPEventEditing.h"
#include "measurement/script/APMPFunctionLog.h"
#include "measurement/script/APMPRuntime.h"
#include "measurement/script/APMPScriptRegistration.h"
#include "measurement/script/APMPixieLogger.h"
#include "testing/script-notation/ScriptNotation.h"
#include "testing/script-notation/ScriptRun.h"

namespace {

using measurementtest::configuration;
using measurementtest::items;
using measurementtest::MeasurementTestEnvironment;

std::shared_ptr<APMPBProgram> programFrom(const std::string& json) {
  std::string problem;
  std::optional<platform::Value> notation = testkit::parseNotation(json, problem);
  EXPECT_TRUE(notation) << problem;
  std::shared_ptr<APMPBProgram> program = notation ? testkit::programFromNotation(*notation, problem) : nullptr;
  EXPECT_TRUE(program) << problem;
  return program;
}

// Settings parsed from a configuration with the given program and settings.
std::shared_ptr<APMRemoteConfig> settingsWithProgram(const std::string& json,
                                                     const std::vector<std::pair<std::string, std::string>>& values = {}) {
  auto config = configuration(MeasurementTestEnvironment::kAppID, values);
  APMPBSetArray(config.get(), APMPBMeasurementConfigSlot::kDynamicEventEditing, items<APMPBProgram>({programFrom(json)}));
  return APMRemoteConfig::initWithAppID(MeasurementTestEnvironment::kAppID, {}, config, nullptr, nullptr);
}

// A program whose edit callback stores what the statement gives as the
// parameter "got".
std::string storing(const std::string& expression, const std::string& setup = "") {
  return R"([["41","reg"],["3","reg",["require","internal.registerCallback"]],)" + setup +
         R"(["reg",0,["51","cb",["7","e"],["2",["15","e"],"setParamValue",["7","got",)" + expression +
         R"(]],["36",0]],["8","type","edit"]]])";
}

platform::Value got(const std::shared_ptr<APMRemoteConfig>& settings) {
  std::shared_ptr<APMEventEditing> editing = settings->eventEditing();
  EXPECT_TRUE(editing);
  if (!editing) return {};
  platform::Error error;
  editing->handleEvent(APMPEvent("e", 1, {}), &error);
  return editing->outputEvent().parameterForName("got");
}

TEST(APMPModules, SettingsBuildTheEditingInstanceWithTheirModules) {
  MeasurementTestEnvironment env;
  APMPScriptRegisterLibrary();
  const struct {
    const char* name;
    std::string expression;
    platform::Value value;
  } cases[] = {
      {"a setting as text",
       R"(["0",["2",["require","internal.remoteConfig"],"getValue",["7","measurement.test.key",5]],"x"])",
       platform::Value("30x")},
      {"the default for a missing key",
       R"(["2",["require","internal.remoteConfig"],"getValue",["7","measurement.missing",5]])", platform::Value(5.0)},
      {"getValue counts", R"(["2",["require","internal.remoteConfig"],"getValue",["7","k"]])", platform::Value()},
      {"platform", R"(["16",["md"],"platform"])", platform::Value("macos")},
      {"metadata", R"(["16",["md"],"package_name"])", platform::Value("com.tavix.app")},
      {"library version", R"(["16",["md"],"vod_version"])", platform::Value(120500.0)},
      {"script version", R"(["2",["require","internal.platform"],"getVersion",["7"]])", platform::Value(0.0)},
  };
  for (const auto& c : cases) {
    const std::string setup = R"(["41","md"],["3","md",["require","internal.appMetadata"]],)";
    auto settings = settingsWithProgram(storing(c.expression, setup), {{"measurement.test.key", "30"}});
    EXPECT_TRUE(std::dynamic_pointer_cast<APMPEventEditing>(settings->eventEditing())) << c.name;
    EXPECT_EQ(got(settings), c.value) << c.name;
  }

  // A program that fails to load leaves the settings without an instance.
  env.clearLogs();
  auto failing = settingsWithProgram(R"([["36",1]])");
  EXPECT_EQ(failing->eventEditing(), nullptr);
  EXPECT_TRUE(env.logged("[I-ACS029026] Failed to initiate event editing instance"));
}

TEST(APMPModules, LoggerWritesToTheMonitor) {
  MeasurementTestEnvironment env;
  APMPScriptRegisterLibrary();
  auto settings = settingsWithProgram(storing(
      R"(["13",["2",["require","internal.logger"],"log",["7","plain line"]],
              ["2",["16",["require","internal.logger"],"silent"],"log",["7",5,"silent line","c1"]],1])"));
  got(settings);
  EXPECT_TRUE(env.logged("[I-ACS024005] plain line"));
}

TEST(APMPModules, LevelTable) {
  const struct {
    int64_t level;
    int64_t normal;    // the logger's own log: not silent, monitored
    int64_t silent;    // silent.log: silent, monitored
    int64_t unwatched; // unmonitored.log: neither
  } cases[] = {
      {2, 8, 8, 8}, {3, 7, 7, 7}, {4, 6, 6, 6}, {5, 4, 5, 3}, {6, 1, 2, 0}, {0, 6, 6, 6}, {9, 6, 6, 6},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(APMPixieLogger::monitorLevel(c.level, false, true), c.normal) << c.level;
    EXPECT_EQ(APMPixieLogger::monitorLevel(c.level, true, true), c.silent) << c.level;
    EXPECT_EQ(APMPixieLogger::monitorLevel(c.level, false, false), c.unwatched) << c.level;
  }
}

TEST(APMPModules, LogArguments) {
  struct Line {
    int64_t level;
    std::string message;
    std::vector<std::string> context;
    bool silent;
    bool monitored;
  };
  struct Recorder final : APMPLoggerDelegate {
    std::vector<Line> lines;
    void logWithLevel(int64_t level, const std::string& message, const std::vector<std::string>& context, bool silent,
                      bool monitored) override {
      lines.push_back({level, message, context, silent, monitored});
    }
  };
  auto recorder = std::make_shared<Recorder>();
  APMPRuntime runtime;
  runtime.setModuleCreator([recorder] { return std::make_shared<APMPFunctionLog>(recorder, false, true); }, "log");
  EXPECT_EQ(testkit::runScriptProgram(runtime, R"([["41","log"],["3","log",["require","log"]],["log","one"]])").text,
            "undefined");
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["log",6.9,"two",1,2,3,4,5])").text, "undefined");
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["log"])").text,
            "error com.zoruvu.vod.measurement.pixie.ErrorDomain 9");
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["log",1,["4"]])").text,
            "error com.zoruvu.vod.measurement.pixie.ErrorDomain 5");
  ASSERT_EQ(recorder->lines.size(), 2u);
  EXPECT_EQ(recorder->lines[0].level, 4);
  EXPECT_EQ(recorder->lines[0].message, "one");
  EXPECT_TRUE(recorder->lines[0].context.empty());
  EXPECT_EQ(recorder->lines[1].level, 6);
  EXPECT_EQ(recorder->lines[1].message, "two");
  EXPECT_EQ(recorder->lines[1].context, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_FALSE(recorder->lines[1].silent);
  EXPECT_TRUE(recorder->lines[1].monitored);
}

}  // namespace
