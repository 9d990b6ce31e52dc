#include "testing/fakes/measurement/FakeExperimentService.h"

#include <chrono>
#include <thread>

#include "measurement/messages/APMPBFieldAccess.h"

namespace testkit {

namespace {

void fillFlag(NANOMessageBase* flag, const FakeExperimentFlag& given) {
  APMPBSetString(flag, APMPBFlagSlot::kName, given.name);
  const platform::Value& value = given.value;
  if (value.isString()) {
    APMPBSetString(flag, APMPBFlagSlot::kStringValue, *value.asString());
  } else if (value.isBool()) {
    APMPBSetBool(flag, APMPBFlagSlot::kBoolValue, value.boolValue());
  } else if (value.isFloatingNumber()) {
    APMPBSetDouble(flag, APMPBFlagSlot::kDoubleValue, value.doubleValue());
  } else if (value.isNumber()) {
    APMPBSetInt64(flag, APMPBFlagSlot::kIntValue, value.longLongValue());
  }
}

void fillSnapshot(NANOMessageBase* snapshot, const FakeExperimentSnapshot& given) {
  if (!given.SDKName.empty()) APMPBSetString(snapshot, APMPBSnapshotSlot::kSdkName, given.SDKName);
  for (const FakeExperiment& experiment : given.experiments) {
    std::optional<APMPBMessageView> item = APMPBAppendMessage(snapshot, APMPBSnapshotSlot::kExperiments);
    if (!item) continue;
    APMPBSetInt32(&*item, APMPBExperimentSlot::kExperimentID, experiment.experimentID);
    for (const FakeExperimentFlag& flag : experiment.flags) {
      if (std::optional<APMPBMessageView> added = APMPBAppendMessage(&*item, APMPBExperimentSlot::kFlags)) {
        fillFlag(&*added, flag);
      }
    }
  }
}

std::string text(const std::optional<platform::Bytes>& bytes) {
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

}  // namespace

ExperimentAnswer ExperimentAnswer::response(std::vector<FakeExperimentSnapshot> snapshots,
                                            std::vector<FakeSdkResponse> sdkResponses, int status) {
  return raw(status, gzip(FakeExperimentService::encodeResponse(snapshots, sdkResponses)));
}

ExperimentAnswer ExperimentAnswer::withStatus(int status) { return ExperimentAnswer{status, std::nullopt, false}; }

ExperimentAnswer ExperimentAnswer::raw(int status, std::string body) {
  return ExperimentAnswer{status, std::move(body), false};
}

ExperimentAnswer ExperimentAnswer::dropped() { return ExperimentAnswer{0, std::nullopt, true}; }

std::string FakeExperimentService::encodeResponse(const std::vector<FakeExperimentSnapshot>& snapshots,
                                                  const std::vector<FakeSdkResponse>& sdkResponses) {
  std::shared_ptr<APMPBExperimentResponse> response = APMPBExperimentResponse::initWithMessageInfo(nullptr);
  for (const FakeExperimentSnapshot& snapshot : snapshots) {
    if (auto item = APMPBAppendMessage(response.get(), APMPBExperimentResponseSlot::kSnapshots)) {
      fillSnapshot(&*item, snapshot);
    }
  }
  for (const FakeSdkResponse& sdk : sdkResponses) {
    std::optional<APMPBMessageView> item = APMPBAppendMessage(response.get(), APMPBExperimentResponseSlot::kSdkResponses);
    if (!item) continue;
    if (!sdk.SDKName.empty()) APMPBSetString(&*item, APMPBSdkResponseSlot::kSdkName, sdk.SDKName);
    if (sdk.status) APMPBSetInt32(&*item, APMPBSdkResponseSlot::kErrorCode, *sdk.status);
    if (sdk.snapshot) {
      std::shared_ptr<APMPBSnapshot> snapshot = APMPBSnapshot::initWithMessageInfo(nullptr);
      fillSnapshot(snapshot.get(), *sdk.snapshot);
      APMPBSetMessage(&*item, APMPBSdkResponseSlot::kSnapshot, snapshot.get());
    }
  }
  return text(response->protoBuffer());
}

ExperimentFetch FakeExperimentService::decodeRequest(const RecordedRequest& request) {
  ExperimentFetch fetch;
  fetch.raw = request;
  const std::span<const uint8_t> body(reinterpret_cast<const uint8_t*>(request.body.data()), request.body.size());
  std::shared_ptr<APMPBExperimentRequest> message = APMPBExperimentRequest::initWithBuffer(body);
  if (message == nullptr) return fetch;
  fetch.decoded = true;
  if (auto app = APMPBGetMessage<APMPBAppProperty>(message.get(), APMPBExperimentRequestSlot::kAppProperty)) {
    fetch.platform = APMPBGetString(app.get(), APMPBAppPropertySlot::kPlatform);
    fetch.language = APMPBGetString(app.get(), APMPBAppPropertySlot::kLanguage);
    fetch.bundleIdentifier = APMPBGetString(app.get(), APMPBAppPropertySlot::kBundleIdentifier);
    fetch.fromAppStore = APMPBGetBool(app.get(), APMPBAppPropertySlot::kFromAppStore);
    fetch.clientVersion = APMPBGetInt64(app.get(), APMPBAppPropertySlot::kExperimentClientVersion);
  }
  for (const APMPBMessageView& item :
       APMPBGetMessageViews(message.get(), APMPBExperimentRequestSlot::kClientProperties)) {
    ExperimentClientRecord client;
    client.name = APMPBGetString(&item, APMPBClientPropertySlot::kSdkName).value_or("");
    client.diversion = APMPBGetString(&item, APMPBClientPropertySlot::kDiversion).value_or("");
    client.version = APMPBGetInt64(&item, APMPBClientPropertySlot::kSdkVersion);
    client.appID = APMPBGetString(&item, APMPBClientPropertySlot::kAppID);
    for (const APMPBMessageView& custom : APMPBGetMessageViews(&item, APMPBClientPropertySlot::kCustomProperties)) {
      client.customProperties[APMPBGetString(&custom, APMPBCustomPropertySlot::kKey).value_or("")] =
          APMPBGetString(&custom, APMPBCustomPropertySlot::kValue).value_or("");
    }
    fetch.clients.push_back(std::move(client));
  }
  return fetch;
}

FakeExperimentService::FakeExperimentService(LoopbackServer& server) : m_server(server) {
  m_server.on("POST", kPath, [this](const RecordedRequest& request) { return answer(request); });
}

FakeExperimentService::~FakeExperimentService() { m_server.stop(); }

void FakeExperimentService::script(std::vector<ExperimentAnswer> answers) {
  std::lock_guard lock(m_mutex);
  for (ExperimentAnswer& answer : answers) m_script.push_back(std::move(answer));
}

void FakeExperimentService::setDefaultAnswer(ExperimentAnswer answer) {
  std::lock_guard lock(m_mutex);
  m_defaultAnswer = std::move(answer);
}

Answer FakeExperimentService::answer(const RecordedRequest&) {
  ExperimentAnswer next;
  {
    std::lock_guard lock(m_mutex);
    if (m_script.empty()) {
      next = m_defaultAnswer;
    } else {
      next = std::move(m_script.front());
      m_script.pop_front();
    }
  }
  if (next.drop) return Answer::close();
  return Answer::text(next.status, next.body.value_or(""), "application/x-protobuf");
}

std::vector<ExperimentFetch> FakeExperimentService::fetches() const {
  std::vector<ExperimentFetch> result;
  for (const RecordedRequest& request : m_server.requests(kPath)) result.push_back(decodeRequest(request));
  return result;
}

size_t FakeExperimentService::fetchCount() const { return m_server.requests(kPath).size(); }

bool FakeExperimentService::waitForFetches(size_t count, double timeoutSeconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (fetchCount() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace testkit
