#include "testing/fakes/measurement/FakeMeasurementUploadService.h"

#include <chrono>
#include <span>
#include <thread>

#include "measurement/messages/APMPBFieldAccess.h"

namespace testkit {

namespace {

template <APMPBWrapperClass W>
std::vector<std::shared_ptr<W>> items(const NANOMessageBase* message, int32_t slot) {
  std::vector<std::shared_ptr<W>> list;
  for (const platform::Value& item : APMPBGetArray<W>(message, slot).value_or(platform::Array())) {
    if (std::shared_ptr<W> object = APMPBObjectFromValue<W>(item)) list.push_back(object);
  }
  return list;
}

platform::Value paramValue(const APMPBEventParam& param) {
  if (APMPBHasField(&param, APMPBEventParamSlot::kStringValue)) {
    return platform::Value(APMPBGetString(&param, APMPBEventParamSlot::kStringValue).value_or(""));
  }
  if (APMPBHasField(&param, APMPBEventParamSlot::kIntValue)) {
    return platform::Value(static_cast<long long>(APMPBGetInt64(&param, APMPBEventParamSlot::kIntValue)));
  }
  if (APMPBHasField(&param, APMPBEventParamSlot::kDoubleValue)) {
    return platform::Value(APMPBGetDouble(&param, APMPBEventParamSlot::kDoubleValue));
  }
  platform::Array list;
  for (const auto& child : items<APMPBEventParam>(&param, APMPBEventParamSlot::kParamValue)) {
    platform::Dictionary entry;
    for (const auto& field : items<APMPBEventParam>(child.get(), APMPBEventParamSlot::kParamValue)) {
      entry.set(APMPBGetString(field.get(), APMPBEventParamSlot::kName).value_or(""), paramValue(*field));
    }
    list.append(platform::Value(entry));
  }
  return platform::Value(list);
}

UploadedEvent eventOf(const APMPBEvent& message) {
  UploadedEvent event;
  event.name = APMPBGetString(&message, APMPBEventSlot::kName).value_or("");
  event.timestampMs = APMPBGetInt64(&message, APMPBEventSlot::kTimestamp);
  if (APMPBHasField(&message, APMPBEventSlot::kPreviousTimestamp)) {
    event.previousTimestampMs = APMPBGetInt64(&message, APMPBEventSlot::kPreviousTimestamp);
  }
  if (APMPBHasField(&message, APMPBEventSlot::kEltValue)) {
    event.eltValue = APMPBGetInt64(&message, APMPBEventSlot::kEltValue);
  }
  for (const auto& param : items<APMPBEventParam>(&message, APMPBEventSlot::kParams)) {
    event.params.set(APMPBGetString(param.get(), APMPBEventParamSlot::kName).value_or(""), paramValue(*param));
  }
  return event;
}

UploadedAttribute attributeOf(const APMPBUserAttribute& message) {
  UploadedAttribute attribute;
  attribute.name = APMPBGetString(&message, APMPBUserAttributeSlot::kName).value_or("");
  attribute.setTimestampMs = APMPBGetInt64(&message, APMPBUserAttributeSlot::kSetTimestamp);
  if (APMPBHasField(&message, APMPBUserAttributeSlot::kStringValue)) {
    attribute.value = APMPBGetString(&message, APMPBUserAttributeSlot::kStringValue).value_or("");
  } else if (APMPBHasField(&message, APMPBUserAttributeSlot::kIntValue)) {
    attribute.value = static_cast<long long>(APMPBGetInt64(&message, APMPBUserAttributeSlot::kIntValue));
  } else if (APMPBHasField(&message, APMPBUserAttributeSlot::kDoubleValue)) {
    attribute.value = APMPBGetDouble(&message, APMPBUserAttributeSlot::kDoubleValue);
  }
  return attribute;
}

}  // namespace

std::vector<UploadedEvent> UploadedBundle::eventsNamed(const std::string& name) const {
  std::vector<UploadedEvent> found;
  for (const UploadedEvent& event : events) {
    if (event.name == name) found.push_back(event);
  }
  return found;
}

const UploadedAttribute* UploadedBundle::attribute(const std::string& name) const {
  for (const UploadedAttribute& entry : attributes) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

FakeMeasurementUploadService::FakeMeasurementUploadService(LoopbackServer& server)
    : m_server(server), m_defaultAnswer(Answer::text(204, "")) {
  m_server.on("POST", kPath, [this](const RecordedRequest&) { return answer(); });
}

FakeMeasurementUploadService::~FakeMeasurementUploadService() { m_server.stop(); }

void FakeMeasurementUploadService::script(std::vector<Answer> answers) {
  std::lock_guard lock(m_mutex);
  for (Answer& answer : answers) m_script.push_back(std::move(answer));
}

void FakeMeasurementUploadService::scriptStatuses(const std::vector<int>& statuses) {
  std::vector<Answer> answers;
  for (int status : statuses) answers.push_back(Answer::text(status, ""));
  script(std::move(answers));
}

void FakeMeasurementUploadService::setDefaultAnswer(Answer answer) {
  std::lock_guard lock(m_mutex);
  m_defaultAnswer = std::move(answer);
}

Answer FakeMeasurementUploadService::answer() {
  std::lock_guard lock(m_mutex);
  if (m_script.empty()) return m_defaultAnswer;
  Answer next = std::move(m_script.front());
  m_script.pop_front();
  return next;
}

UploadedBatch FakeMeasurementUploadService::decode(const RecordedRequest& request) {
  UploadedBatch batch;
  batch.raw = request;
  const auto* bytes = reinterpret_cast<const uint8_t*>(request.body.data());
  batch.message = APMPBMeasurementBatch::initWithBuffer(std::span(bytes, request.body.size()));
  if (!batch.message) return batch;
  for (const auto& bundle : items<APMPBMeasurementBundle>(batch.message.get(), APMPBMeasurementBatchSlot::kBundles)) {
    UploadedBundle uploaded;
    uploaded.message = bundle;
    for (const auto& event : items<APMPBEvent>(bundle.get(), APMPBMeasurementBundleSlot::kEvents)) {
      uploaded.events.push_back(eventOf(*event));
    }
    for (const auto& attribute : items<APMPBUserAttribute>(bundle.get(), APMPBMeasurementBundleSlot::kUserAttributes)) {
      uploaded.attributes.push_back(attributeOf(*attribute));
    }
    batch.bundles.push_back(std::move(uploaded));
  }
  return batch;
}

std::vector<UploadedBatch> FakeMeasurementUploadService::batches() const {
  std::vector<UploadedBatch> result;
  for (const RecordedRequest& request : m_server.requests(kPath)) {
    if (request.method == "POST") result.push_back(decode(request));
  }
  return result;
}

size_t FakeMeasurementUploadService::uploadCount() const {
  size_t count = 0;
  for (const RecordedRequest& request : m_server.requests(kPath)) count += request.method == "POST" ? 1 : 0;
  return count;
}

bool FakeMeasurementUploadService::waitForUploads(size_t count, double timeoutSeconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (uploadCount() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace testkit
