// The configuration notation as the settings read it, and the two fake
// measurement services driven with plain libcurl (independently of the
// engine's network client).
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/storage/Json.h"
#include "testing/fakes/measurement/FakeMeasurementConfigService.h"
#include "testing/fakes/measurement/FakeMeasurementUploadService.h"
#include "testing/fakes/measurement/MeasurementConfigNotation.h"

namespace testkit {
namespace {

using measurementtest::MeasurementTestEnvironment;

struct Reply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  std::string headers;
};

Reply call(const std::string& url, const std::vector<std::string>& headerLines = {},
           const std::optional<std::string>& postBody = std::nullopt) {
  Reply reply;
  CURL* handle = curl_easy_init();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, 20L);
  if (postBody) {
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, postBody->data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody->size()));
  }
  curl_slist* headers = nullptr;
  for (const std::string& line : headerLines) headers = curl_slist_append(headers, line.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  auto append = +[](char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
  };
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, append);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, append);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &reply.headers);
  reply.code = curl_easy_perform(handle);
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply.status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(handle);
  return reply;
}

platform::Value json(const std::string& text) {
  platform::Result<platform::Value> value = platform::Json::parse(text);
  EXPECT_TRUE(value) << text;
  return value ? *value : platform::Value();
}

TEST(MeasurementConfigNotationTest, EveryMemberReachesTheSettings) {
  MeasurementTestEnvironment env;
  std::string error;
  std::shared_ptr<APMPBMeasurementConfig> config =
      measurementConfigFromNotation(json(R"({
      "version": 7,
      "settings": {"measurement.upload.interval": "60000"},
      "event_config": [{"name": "spam", "blocklisted": true}, {"name": "buy", "conversion": true,
                        "sampling_rate": 10}],
      "audiences": [{"audience_id": 4, "event_filters": [{"filter_id": 1, "event_name": "buy",
                     "filters": [{"param_name": "p", "string_filter": {"match_type": 6,
                                  "expression_list": ["a", "b"]}}],
                     "event_count_filter": {"comparison_type": 2, "comparison_value": "3"},
                     "session_scoped": true}],
                     "property_filters": [{"filter_id": 2, "property_name": "u",
                                           "filter": {"complement": true}}]}],
      "data_controls": ["dc1", "dc2"],
      "upload_subdomain": "region1",
      "consent": {"defaults": {"ad_storage": "denied"}, "delegations": {"ad_user_data": "ad_storage"},
                  "core_platform_services": ["cps"], "dma": false,
                  "regional_defaults": {"analytics_storage": "granted"}},
      "programs": [[["log", "x"]]],
      "experiment_ids": [11, 4294967295]})"),
                                    MeasurementTestEnvironment::kAppID, error);
  ASSERT_TRUE(config) << error;

  std::shared_ptr<APMRemoteConfig> settings =
      APMRemoteConfig::initWithAppID(MeasurementTestEnvironment::kAppID, {}, config, nullptr, nullptr);
  EXPECT_EQ(settings->version(), 7);
  EXPECT_EQ(settings->uploadingInterval(), 60);
  EXPECT_TRUE(settings->isEventBlocklisted("spam"));
  EXPECT_TRUE(settings->isEventCustomConversion("buy"));
  EXPECT_EQ(settings->samplingRateForEvent("buy"), 10);
  EXPECT_EQ(settings->dataControls(), (std::vector<std::string>{"dc1", "dc2"}));
  EXPECT_EQ(settings->uploadSubdomain(), "region1");
  EXPECT_EQ(settings->consentDefaults().get("ad_storage"), platform::Value("denied"));
  EXPECT_EQ(settings->consentDelegations().get("ad_user_data"), platform::Value("ad_storage"));
  EXPECT_EQ(settings->regionalDefaults().get("analytics_storage"), platform::Value("granted"));
  EXPECT_EQ(settings->corePlatformServices(), (std::set<std::string>{"cps"}));
  EXPECT_FALSE(settings->isDMARegion());
  EXPECT_EQ(APMPBGetString(config.get(), APMPBMeasurementConfigSlot::kAppID), MeasurementTestEnvironment::kAppID);
  const platform::Array ids =
      APMPBGetArray(config.get(), APMPBMeasurementConfigSlot::kExperimentIDs).value_or(platform::Array());
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[1].numberAs<uint32_t>(), 4294967295u);

  EXPECT_EQ(APMPBGetArray(config.get(), APMPBMeasurementConfigSlot::kDynamicEventEditing)->size(), 1u);

  // The audience survives an encoding round trip, its nested filters included.
  auto decoded = APMPBMeasurementConfig::initWithBuffer(*config->protoBuffer());
  ASSERT_TRUE(decoded);
  auto audience = APMPBObjectFromValue<APMPBAudience>(
      APMPBGetArray<APMPBAudience>(decoded.get(), APMPBMeasurementConfigSlot::kAudiences)->at(0));
  EXPECT_EQ(APMPBGetInt32(audience.get(), APMPBAudienceSlot::kAudienceID), 4);
  auto eventFilter = APMPBObjectFromValue<APMPBEventFilter>(
      APMPBGetArray<APMPBEventFilter>(audience.get(), APMPBAudienceSlot::kEventFilters)->at(0));
  EXPECT_TRUE(APMPBGetBool(eventFilter.get(), APMPBEventFilterSlot::kSessionScoped));
  auto count = APMPBGetMessage<APMPBNumberFilter>(eventFilter.get(), APMPBEventFilterSlot::kEventCountFilter);
  ASSERT_TRUE(count);
  EXPECT_EQ(APMPBGetString(count.get(), APMPBNumberFilterSlot::kComparisonValue), "3");
  auto filter = APMPBObjectFromValue<APMPBFilter>(
      APMPBGetArray<APMPBFilter>(eventFilter.get(), APMPBEventFilterSlot::kFilters)->at(0));
  auto strings = APMPBGetMessage<APMPBStringFilter>(filter.get(), APMPBFilterSlot::kStringFilter);
  EXPECT_EQ(APMPBGetArray(strings.get(), APMPBStringFilterSlot::kExpressionList)->size(), 2u);
}

TEST(MeasurementConfigNotationTest, RefusesWhatItCannotWrite) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"([])", "the configuration is not an object"},
      {R"({"versions": 1})", "the configuration has no member \"versions\""},
      {R"({"version": "1"})", "version is not an integer"},
      {R"({"settings": {"a": 1}})", "settings.a is not a string"},
      {R"({"event_config": [{"name": "e", "rate": 2}]})", "event_config has no member \"rate\""},
      {R"({"audiences": [{"audience_id": 1, "filters": []}]})", "audience has no field \"filters\""},
      {R"({"audiences": [{"event_filters": [{"dynamic": 1}]}]})",
       "audience.event_filters.dynamic is not true or false"},
      {R"({"consent": {"defaults": {"ad_storage": "maybe"}}})", "consent.defaults has an unknown name \"maybe\""},
      {R"({"consent": {"delegations": {"storage": "ad_storage"}}})",
       "consent.delegations has an unknown name \"storage\""},
      {R"({"experiment_ids": [-1]})", "experiment_ids holds -1"},
      {R"({"programs": [{"instructions": 1}]})", "programs: statements must be an array"},
  };
  for (const auto& [notation, reason] : cases) {
    std::string error;
    EXPECT_FALSE(measurementConfigFromNotation(json(notation), "app", error)) << notation;
    EXPECT_EQ(error, reason) << notation;
  }
}

TEST(FakeMeasurementConfigServiceTest, AnswersItsScriptAndRecordsConditionalHeaders) {
  LoopbackServer server;
  FakeMeasurementConfigService service(server);
  service.script(
      {MeasurementConfigAnswer::configuration(json(R"({"version": 2})"), "Mon, 01 Jan 2024 00:00:00 GMT", "\"tag-1\""),
       MeasurementConfigAnswer::withStatus(304), MeasurementConfigAnswer::dropped(),
       MeasurementConfigAnswer::raw(200, "\xff\xff")});
  const std::string url = server.url("/config/app/1:2:ios:3?vod_version=120500&platform=macos&runtime_version=3");

  Reply first = call(url);
  EXPECT_EQ(first.status, 200);
  EXPECT_NE(first.headers.find("ETag: \"tag-1\""), std::string::npos) << first.headers;
  EXPECT_NE(first.headers.find("Last-Modified: Mon, 01 Jan 2024 00:00:00 GMT"), std::string::npos);
  auto config = APMPBMeasurementConfig::initWithBuffer(
      std::span(reinterpret_cast<const uint8_t*>(first.body.data()), first.body.size()));
  ASSERT_TRUE(config);
  EXPECT_EQ(APMPBGetString(config.get(), APMPBMeasurementConfigSlot::kAppID), "1:2:ios:3");
  EXPECT_EQ(APMPBGetInt64(config.get(), APMPBMeasurementConfigSlot::kVersion), 2);

  EXPECT_EQ(call(url, {"If-Modified-Since: Mon, 01 Jan 2024 00:00:00 GMT", "If-None-Match: \"tag-1\""}).status, 304);
  EXPECT_NE(call(url).code, CURLE_OK);
  EXPECT_EQ(call(url).body, "\xff\xff");
  // The default answer: the requested app's empty configuration.
  EXPECT_EQ(call(url).status, 200);

  std::vector<MeasurementConfigFetch> fetches = service.fetches();
  ASSERT_EQ(fetches.size(), 5u);
  EXPECT_EQ(fetches[0].appID, "1:2:ios:3");
  EXPECT_EQ(fetches[0].query, (std::map<std::string, std::string>{
                                  {"platform", "macos"}, {"runtime_version", "3"}, {"vod_version", "120500"}}));
  EXPECT_FALSE(fetches[0].ifModifiedSince);
  EXPECT_FALSE(fetches[0].ifNoneMatch);
  EXPECT_EQ(fetches[1].ifModifiedSince, "Mon, 01 Jan 2024 00:00:00 GMT");
  EXPECT_EQ(fetches[1].ifNoneMatch, "\"tag-1\"");
}

TEST(FakeMeasurementUploadServiceTest, DecodesTheGzippedBatch) {
  LoopbackServer server;
  FakeMeasurementUploadService service(server);
  service.scriptStatuses({500});

  auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kAppID, "app");
  auto event = APMPBEvent::initWithMessageInfo(nullptr);
  APMPBSetString(event.get(), APMPBEventSlot::kName, "_f");
  APMPBSetInt64(event.get(), APMPBEventSlot::kTimestamp, 1000);
  APMPBSetInt64(event.get(), APMPBEventSlot::kEltValue, 5);
  auto param = APMPBEventParam::initWithMessageInfo(nullptr);
  APMPBSetString(param.get(), APMPBEventParamSlot::kName, "_o");
  APMPBSetString(param.get(), APMPBEventParamSlot::kStringValue, "auto");
  APMPBSetArray(event.get(), APMPBEventSlot::kParams, platform::Array{APMPBObjectValue(param)});
  auto attribute = APMPBUserAttribute::initWithMessageInfo(nullptr);
  APMPBSetString(attribute.get(), APMPBUserAttributeSlot::kName, "_lte");
  APMPBSetInt64(attribute.get(), APMPBUserAttributeSlot::kIntValue, 42);
  APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kEvents, platform::Array{APMPBObjectValue(event)});
  APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kUserAttributes,
                platform::Array{APMPBObjectValue(attribute)});
  auto batch = APMPBMeasurementBatch::initWithMessageInfo(nullptr);
  APMPBSetArray(batch.get(), APMPBMeasurementBatchSlot::kBundles, platform::Array{APMPBObjectValue(bundle)});
  const platform::Bytes bytes = *batch->protoBuffer();
  const std::string body = gzip(std::string(bytes.begin(), bytes.end()));

  EXPECT_EQ(call(server.url("/a"), {"Content-Encoding: gzip"}, body).status, 500);
  EXPECT_EQ(call(server.url("/a"), {"Content-Encoding: gzip"}, body).status, 204);
  EXPECT_EQ(call(server.url("/a"), {}, std::string("\x0a\xff", 2)).status, 204);

  std::vector<UploadedBatch> batches = service.batches();
  ASSERT_EQ(batches.size(), 3u);
  ASSERT_EQ(batches[0].bundles.size(), 1u);
  const UploadedBundle& uploaded = batches[0].bundles[0];
  EXPECT_EQ(APMPBGetString(uploaded.message.get(), APMPBMeasurementBundleSlot::kAppID), "app");
  ASSERT_EQ(uploaded.eventsNamed("_f").size(), 1u);
  EXPECT_EQ(uploaded.events[0].timestampMs, 1000);
  EXPECT_EQ(uploaded.events[0].eltValue, 5);
  EXPECT_FALSE(uploaded.events[0].previousTimestampMs);
  EXPECT_EQ(uploaded.events[0].params.get("_o"), platform::Value("auto"));
  ASSERT_TRUE(uploaded.attribute("_lte"));
  EXPECT_EQ(uploaded.attribute("_lte")->value, platform::Value(42LL));
  EXPECT_FALSE(batches[2].message);
}

}  // namespace
}  // namespace testkit
