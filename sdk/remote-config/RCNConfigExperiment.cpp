#include "sdk/remote-config/RCNConfigExperiment.h"

#include "platform/storage/Json.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/remote-config/RCNConstants.h"

using platform::Value;

std::shared_ptr<RCNConfigExperiment> RCNConfigExperiment::create(std::shared_ptr<RCNConfigDBManager> manager,
                                                                 std::shared_ptr<RIRExperimentController> controller,
                                                                 platform::DispatchQueue queue) {
  auto experiment =
      std::make_shared<RCNConfigExperiment>(PrivateTag{}, std::move(manager), std::move(controller), std::move(queue));
  experiment->loadExperimentFromTable();
  return experiment;
}

RCNConfigExperiment::RCNConfigExperiment(PrivateTag, std::shared_ptr<RCNConfigDBManager> manager,
                                         std::shared_ptr<RIRExperimentController> controller,
                                         platform::DispatchQueue queue)
    : m_DBManager(std::move(manager)), m_experimentController(std::move(controller)), m_queue(std::move(queue)) {}

void RCNConfigExperiment::loadExperimentFromTable() {
  if (!m_DBManager) return;
  std::weak_ptr<RCNConfigExperiment> weak = weak_from_this();
  m_DBManager->loadExperimentWithCompletionHandler([weak](bool, std::optional<platform::Dictionary> result) {
    std::shared_ptr<RCNConfigExperiment> self = weak.lock();
    if (!self || !result) return;
    // The lists belong to the facade's queue.
    self->m_queue.async([weak, result = *result] {
      std::shared_ptr<RCNConfigExperiment> self = weak.lock();
      if (!self) return;
      auto restore = [](const Value& rows, std::vector<platform::Bytes>& into, const char* warning) {
        into.clear();
        std::optional<platform::Array> list = rows.asArray();
        if (!list) return;
        for (const Value& row : *list) {
          const platform::Bytes* bytes = row.asData();
          platform::JsonReadOptions options;
          options.allowFragments = true;
          if (bytes != nullptr && platform::Json::parse(*bytes, options).ok()) {
            into.push_back(*bytes);
          } else {
            RIRLogEmitWarning(kRCNLogService, "I-RCN000031", warning);
          }
        }
      };
      if (const Value* payloads = result.find(RCNExperimentTableKeyPayload)) {
        restore(*payloads, self->m_experimentPayloads, "Experiment payload could not be parsed as JSON.");
      }
      if (auto metadata = result.get(RCNExperimentTableKeyMetadata).asDictionary()) {
        self->m_experimentMetadata = metadata->copy();
      }
      if (const Value* active = result.find(RCNExperimentTableKeyActivePayload)) {
        restore(*active, self->m_activeExperimentPayloads, "Activated experiment payload could not be parsed as JSON.");
      }
    });
  });
}

void RCNConfigExperiment::updateExperimentsWithResponse(const std::optional<Value>& response,
                                                        RCNConfigDBWrites& writes) {
  m_experimentPayloads.clear();
  std::optional<platform::Array> descriptions = response ? response->asArray() : std::nullopt;
  if (descriptions) {
    for (const Value& description : *descriptions) {
      platform::Result<platform::Bytes> json = platform::Json::serializeData(description);
      if (!description.isDictionary() || !json.ok()) {
        RIRLogEmitError(kRCNLogService, "I-RCN000030", "Invalid experiment payload to be serialized.");
        continue;
      }
      m_experimentPayloads.push_back(json.value());
    }
  }
  writes.replaceExperimentRows(RCNExperimentTableKeyPayload, m_experimentPayloads);
}

void RCNConfigExperiment::updateExperimentsWithHandler(RIRExperimentController::Completion handler,
                                                       RCNConfigDBWrites& writes) {
  const RIRLifecycleEvents events;
  const double previous = m_experimentMetadata.get(kLastExperimentStartTimeKey).doubleValue();
  updateExperimentStartTime(writes);
  if (m_experimentController) {
    m_experimentController->updateExperimentsWithServiceOrigin(kServiceOrigin, events, 1, previous,
                                                               m_experimentPayloads, std::move(handler));
  } else if (handler) {
    handler(std::nullopt);
  }
  updateActiveExperimentsInDB(writes);
}

double RCNConfigExperiment::latestStartTimeWithExistingLastStartTime(double existing) const {
  if (!m_experimentController) return existing;
  return m_experimentController->latestExperimentStartTimestampBetweenTimestamp(existing, m_experimentPayloads);
}

void RCNConfigExperiment::updateExperimentStartTime(RCNConfigDBWrites& writes) {
  const double existing = m_experimentMetadata.get(kLastExperimentStartTimeKey).doubleValue();
  m_experimentMetadata.set(kLastExperimentStartTimeKey, Value(latestStartTimeWithExistingLastStartTime(existing)));
  platform::JsonWriteOptions pretty;
  pretty.pretty = true;
  platform::Result<platform::Bytes> json = platform::Json::serializeData(Value(m_experimentMetadata), pretty);
  if (!json.ok()) {
    RIRLogEmitError(kRCNLogService, "I-RCN000028", "Invalid fetched experiment metadata to be serialized.");
    return;
  }
  writes.replaceExperimentMetadata(json.value());
}

void RCNConfigExperiment::updateActiveExperimentsInDB(RCNConfigDBWrites& writes) {
  m_activeExperimentPayloads = m_experimentPayloads;
  writes.replaceExperimentRows(RCNExperimentTableKeyActivePayload, m_activeExperimentPayloads);
}
