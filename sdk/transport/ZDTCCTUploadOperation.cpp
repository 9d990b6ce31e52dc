#include "sdk/transport/ZDTCCTUploadOperation.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "platform/text/Url.h"
#include "platform/time/Clock.h"
#include "sdk/transport/ZDTCCTCompressionHelper.h"
#include "sdk/transport/ZDTCCTNanopbHelpers.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCORFlatFileStorage.h"
#include "sdk/transport/ZDTCORLogSourceMetrics.h"

using platform::Bytes;
using platform::Error;
using platform::Value;

namespace {

Error uploaderError(const std::string& reason) {
  Error error(ZDTCCTUploadOperation::kErrorDomain, -1);
  error.setFailureReason(reason);
  return error;
}

std::string hostOf(const std::string& address) {
  std::optional<platform::Url> url = platform::Url::parse(address);
  return url ? url->host().value_or("") : "";
}

std::string schemeOf(const std::string& address) {
  std::optional<platform::Url> url = platform::Url::parse(address);
  return url ? url->scheme() : "";
}

}  // namespace

ZDTCCTUploadOperation::ZDTCCTUploadOperation(int64_t target, ZDTCORUploadConditions conditions, std::string uploadURL,
                                             platform::SerialQueue uploaderQueue,
                                             std::shared_ptr<ZDTCORStoragePromiseProtocol> storage,
                                             std::shared_ptr<ZDTCCTUploadMetadataProvider> metadataProvider,
                                             std::shared_ptr<ZDTCORMetricsControllerProtocol> metricsController,
                                             std::shared_ptr<ZDTCORApplicationProtocol> application)
    : m_target(target),
      m_conditions(conditions),
      m_uploadURL(std::move(uploadURL)),
      m_queue(std::move(uploaderQueue)),
      m_storage(std::move(storage)),
      m_metadataProvider(std::move(metadataProvider)),
      m_metricsController(std::move(metricsController)),
      m_application(application ? std::move(application) : ZDTCORApplication::sharedApplication()) {}

std::string ZDTCCTUploadOperation::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return std::string("<ZDTCCTUploadOperation: ") + address + ">";
}

std::string ZDTCCTUploadOperation::targetName(int64_t target) {
  switch (target) {
    case 1000:
      return "cct";
    case 1001:
      return "fll";
    case 1002:
      return "csh";
    case 1003:
      return "int";
    default:
      return "unknown";
  }
}

std::shared_ptr<ZDTCCTUploadOperation> ZDTCCTUploadOperation::self() {
  return std::static_pointer_cast<ZDTCCTUploadOperation>(shared_from_this());
}

void ZDTCCTUploadOperation::execute() {
  // A cancelled operation is still started by its queue, so that it finishes.
  if (isCancelled()) {
    finish();
    return;
  }
  ZDTCORLogDebug("Upload operation started: " + description());
  auto operation = self();
  m_queue.async([operation] { operation->uploadTarget(); });
}

void ZDTCCTUploadOperation::uploadTarget() {
  std::weak_ptr<ZDTCCTUploadOperation> weak = self();
  {
    const ZDTCORBackgroundIdentifier task = m_application->beginBackgroundTaskWithName(kBackgroundTaskName, [weak] {
      if (auto operation = weak.lock()) operation->backgroundTaskExpired();
    });
    std::lock_guard lock(m_mutex);
    m_backgroundTaskID = task;
  }
  auto operation = self();
  const platform::DispatchQueue& queue = m_queue;
  auto notCancelled = [operation](const Value&) { return !operation->isCancelled(); };
  RBLPromise::onQueueDo(queue, [operation]() -> RBLResolution { return operation->isReadyToUploadTarget(); })
      ->onQueueValidate(queue, notCancelled)
      ->onQueueThen(queue,
                    [operation](const Value&) -> RBLResolution {
                      return operation->m_storage->removeAllBatchesForTarget(operation->m_target, false);
                    })
      ->onQueueThen(queue,
                    [operation](const Value&) -> RBLResolution {
                      return operation->m_storage->hasEventsForTarget(operation->m_target);
                    })
      ->onQueueValidate(queue, [](const Value& hasEvents) { return hasEvents.boolValue(); })
      ->onQueueThen(queue,
                    [operation](const Value&) -> RBLResolution {
                      return operation->m_storage->batchWithEventSelector(
                          operation->eventSelector(), platform::Clock::current()->now() + kBatchExpiration);
                    })
      ->onQueueThen(queue,
                    [operation](const Value& value) -> RBLResolution {
                      std::shared_ptr<ZDTCORUploadBatch> batch = value.asOpaque<ZDTCORUploadBatch>();
                      if (!batch) return uploaderError("The storage gave no batch.");
                      if (!operation->m_metricsController) return batch;
                      return operation->batchByAddingMetricsEvent(batch);
                    })
      ->onQueueValidate(queue, notCancelled)
      ->onQueueThen(queue,
                    [operation](const Value& value) -> RBLResolution {
                      operation->m_uploadAttempted = true;
                      return operation->uploadBatch(value.asOpaque<ZDTCORUploadBatch>());
                    })
      ->onQueueRecover(queue, [](const Error&) -> RBLResolution { return Value(); })
      ->onQueueAlways(queue, [operation] {
        // The task ends first, so that whoever sees the operation finished
        // sees everything it did.
        operation->endBackgroundTask();
        operation->finish();
      });
}

RBLPromisePtr ZDTCCTUploadOperation::isReadyToUploadTarget() {
  bool ready = false;
  if ((m_conditions & ZDTCORUploadConditionNoNetwork) != 0) {
    ZDTCORLogDebug("CCT: Not ready to upload without a network connection.");
  } else if ((m_conditions & ZDTCORUploadConditionHighPriority) != 0) {
    ZDTCORLogDebug("CCT: a high priority event is allowing an upload");
    ready = true;
  } else {
    std::optional<ZDTCORClock> next = m_metadataProvider->nextUploadTimeForTarget(m_target);
    ready = !next || ZDTCORClock::snapshot().isAfter(*next);
    ZDTCORLogDebug(ready ? "CCT: can upload to target " + std::to_string(m_target) +
                               " because the request wait time has transpired"
                         : "CCT: can't upload to target " + std::to_string(m_target) +
                               " because the backend asked to wait");
  }
  if (ready) return RBLPromise::resolvedWith(Value());
  return RBLPromise::resolvedWith(uploaderError("Target " + std::to_string(m_target) +
                                                " is not ready to upload with condition: " +
                                                std::to_string(m_conditions)));
}

ZDTCORStorageEventSelector ZDTCCTUploadOperation::eventSelector() const {
  if ((m_conditions & ZDTCORUploadConditionHighPriority) != 0) {
    return ZDTCORStorageEventSelector::eventSelectorForTarget(m_target);
  }
  std::set<int64_t> tiers;
  if ((m_conditions & ZDTCORUploadConditionWifiData) != 0) {
    tiers.insert({ZDTCOREventQoSFast, ZDTCOREventQoSWifiOnly, ZDTCOREventQoSDefault, ZDTCOREventQoSTelemetry,
                  ZDTCOREventQoSUnknown});
  }
  if ((m_conditions & ZDTCORUploadConditionMobileData) != 0) {
    tiers.insert({ZDTCOREventQoSFast, ZDTCOREventQoSDefault});
  }
  return ZDTCORStorageEventSelector(m_target, std::nullopt, std::nullopt, tiers);
}

RBLPromisePtr ZDTCCTUploadOperation::batchByAddingMetricsEvent(std::shared_ptr<ZDTCORUploadBatch> batch) {
  // A full batch leaves no room for the report; it stays for a later upload.
  if (batch->events().size() >= ZDTCORFlatFileStorage::kMaxEventsPerBatch) return RBLPromise::resolvedWith(batch);
  auto operation = self();
  return m_metricsController->getAndResetMetrics()
      ->onQueueThen(m_queue,
                    [operation, batch](const Value& value) -> RBLResolution {
                      std::shared_ptr<ZDTCORMetrics> metrics = value.asOpaque<ZDTCORMetrics>();
                      std::shared_ptr<ZDTCOREvent> event =
                          metrics ? ZDTCOREvent::eventWithMetrics(metrics, operation->m_target) : nullptr;
                      if (!event) return batch;
                      operation->m_currentMetrics = metrics;
                      ZDTCOREventSet events = batch->events();
                      events.push_back(event);
                      return std::make_shared<ZDTCORUploadBatch>(batch->batchID(), std::move(events));
                    })
      ->onQueueRecover(m_queue, [batch](const Error&) -> RBLResolution { return batch; });
}

RBLPromisePtr ZDTCCTUploadOperation::uploadBatch(std::shared_ptr<ZDTCORUploadBatch> batch) {
  if (!batch) return RBLPromise::resolvedWith(uploaderError("There was no batch to upload."));
  auto operation = self();
  return sendURLRequestWithBatch(batch)
      ->onQueueThen(m_queue,
                    [operation, batch](const Value& value) -> RBLResolution {
                      std::shared_ptr<ZDTCCTURLSessionDataResponse> response =
                          value.asOpaque<ZDTCCTURLSessionDataResponse>();
                      if (!response) return uploaderError("There was no response.");
                      operation->updateNextUploadTime(*response);
                      return operation->processResponse(*response, batch);
                    })
      ->onQueueRecover(m_queue, [operation, batch](const Error& error) -> RBLResolution {
        ZDTCORLogDebug("CCT: batch " + std::to_string(batch->batchID()) +
                       " was not uploaded; its events stay for later: " + error.description());
        return RBLPromise::onQueueAll(operation->m_queue,
                                      {operation->offerMetricsBack(),
                                       operation->m_storage->removeBatchWithID(batch->batchID(), false)});
      });
}

RBLPromisePtr ZDTCCTUploadOperation::sendURLRequestWithBatch(const std::shared_ptr<ZDTCORUploadBatch>& batch) {
  const Bytes encoded = ZDTCCTEncodeBatchedLogRequest(batch->events());
  if (encoded.empty()) return RBLPromise::resolvedWith(uploaderError("The batch could not be encoded."));
  std::optional<Bytes> compressed = ZDTCCTCompressionHelper::gzippedData(encoded);
  const Bytes& body = compressed && compressed->size() < encoded.size() ? *compressed : encoded;
  std::optional<platform::HttpRequest> request =
      constructRequest(m_uploadURL, m_target, body, m_metadataProvider->APIKeyForTarget(m_target));
  if (!request) return RBLPromise::resolvedWith(uploaderError("No request could be built."));
  ZDTCORLogDebug("CTT: request containing " + std::to_string(batch->events().size()) + " events for batch: " +
                 std::to_string(batch->batchID()) + " for target: " + std::to_string(m_target) +
                 " created: " + request->url());

  std::weak_ptr<ZDTCCTUploadOperation> weak = self();
  // Set by the redirect policy, read by the completion; both run on the
  // session's queue, the policy first.
  auto bodyDropped = std::make_shared<std::atomic<bool>>(false);
  platform::HttpSessionConfiguration configuration = platform::HttpSessionConfiguration::defaultConfiguration();
  configuration.redirectPolicy = [weak, bodyDropped, body = std::make_shared<const Bytes>(body)](
                                     int status, const platform::HttpResponse&, const platform::HttpRequest& proposed) {
    auto operation = weak.lock();
    std::optional<platform::RedirectDecision> decision =
        operation ? operation->redirect(status, proposed, *body) : std::nullopt;
    if (!decision) bodyDropped->store(true);
    return decision.value_or(platform::RedirectDecision::refuse());
  };
  std::shared_ptr<platform::HttpSession> session = platform::HttpSession::create(std::move(configuration));
  m_uploadedEventCount = batch->events().size();

  auto operation = self();
  return RBLPromise::onQueueWrapObjectOrErrorCompletion(
             m_queue,
             [operation, session, bodyDropped, request = *request](RBLObjectOrErrorCompletion completion) {
               std::shared_ptr<platform::HttpTask> task =
                   session->dataTask(request, [completion, bodyDropped](platform::HttpResult result) {
                     if (bodyDropped->load()) {
                       // Whatever answered, the batch never arrived: it stays for the next upload.
                       completion(Value(), uploaderError("The upload was redirected to a request without its body."));
                       return;
                     }
                     if (result.error || !result.response) {
                       completion(Value(), result.error.value_or(uploaderError("There was no response.")));
                       return;
                     }
                     auto response = std::make_shared<ZDTCCTURLSessionDataResponse>(
                         ZDTCCTURLSessionDataResponse{*result.response, std::move(result.body)});
                     completion(Value::opaque(std::move(response)), std::nullopt);
                   });
               {
                 std::lock_guard lock(operation->m_mutex);
                 operation->m_currentTask = task;
               }
               task->resume();
             })
      ->onQueueAlways(m_queue, [operation, session] {
        session->finishTasksAndInvalidate();
        std::lock_guard lock(operation->m_mutex);
        operation->m_currentTask.reset();
      });
}

std::optional<platform::HttpRequest> ZDTCCTUploadOperation::constructRequest(const std::string& url, int64_t target,
                                                                             const Bytes& data,
                                                                             const std::optional<std::string>& apiKey) {
  if (data.empty()) {
    ZDTCORLogDebug("There was no data to construct a request for target " + std::to_string(target) + ".");
    return std::nullopt;
  }
  platform::HttpRequest request(url, "POST");
  if (apiKey) request.setValue(*apiKey, "X-Zoruvu-Api-Key");
  if (ZDTCCTCompressionHelper::isGzipped(data)) request.setValue("gzip", "Content-Encoding");
  request.setValue("application/x-protobuf", "Content-Type");
  request.setValue("gzip", "Accept-Encoding");
  request.setValue("datatransport/0.0.1 " + targetName(target) + "support/0.0.1 apple/", "User-Agent");
  request.setBody(data);
  return request;
}

std::optional<platform::RedirectDecision> ZDTCCTUploadOperation::redirect(int status,
                                                                          const platform::HttpRequest& proposed,
                                                                          const Bytes& body) {
  // The key stays with https and with the host it was configured for.
  const bool keyMayGo = schemeOf(proposed.url()) == "https" || hostOf(proposed.url()) == hostOf(m_uploadURL);
  std::optional<std::string> apiKey = keyMayGo ? m_metadataProvider->APIKeyForTarget(m_target) : std::nullopt;
  if (status == 301 || status == 302) {
    std::optional<platform::HttpRequest> rebuilt = constructRequest(proposed.url(), m_target, body, apiKey);
    return rebuilt ? platform::RedirectDecision::replace(std::move(*rebuilt)) : platform::RedirectDecision::refuse();
  }
  // A 303 turns the POST into a GET without body, which cannot deliver the batch.
  if (!proposed.hasBody()) return std::nullopt;
  platform::HttpRequest next = proposed;
  if (!apiKey) next.headers().remove("X-Zoruvu-Api-Key");
  return platform::RedirectDecision::replace(std::move(next));
}

std::optional<uint64_t> ZDTCCTUploadOperation::retryAfterSeconds(const std::string& value) {
  // A decimal number of seconds ("5", "5.5", " +5 "); dates, negative values
  // and anything else are no number here.
  size_t position = value.find_first_not_of(" \t");
  if (position == std::string::npos) return std::nullopt;
  if (value[position] == '+') ++position;
  uint64_t seconds = 0;
  size_t digits = 0;
  for (; position < value.size() && value[position] >= '0' && value[position] <= '9'; ++position, ++digits) {
    const uint64_t digit = static_cast<uint64_t>(value[position] - '0');
    seconds = seconds > (std::numeric_limits<uint64_t>::max() - digit) / 10 ? std::numeric_limits<uint64_t>::max()
                                                                            : seconds * 10 + digit;
  }
  if (position < value.size() && value[position] == '.') {
    ++position;
    for (; position < value.size() && value[position] >= '0' && value[position] <= '9'; ++position) ++digits;
  }
  if (digits == 0 || value.find_first_not_of(" \t", position) != std::string::npos) return std::nullopt;
  return seconds;
}

uint64_t ZDTCCTUploadOperation::waitMillisForResponse(const platform::HttpResponse& response, const Bytes& body) {
  if (!body.empty()) {
    platform::Result<ZDTCCTLogResponse> decoded = ZDTCCTDecodeLogResponse(body);
    if (!decoded) {
      ZDTCORLogDebug("There was a response decoding error: " + decoded.error().description());
    } else if (decoded->nextWaitMs) {
      ZDTCORLogDebug("CCT: The backend responded asking to not upload for " + std::to_string(*decoded->nextWaitMs) +
                     " millis from now.");
      return static_cast<uint64_t>(std::clamp<int64_t>(*decoded->nextWaitMs, 0, kMaxWaitMillis));
    }
  }
  if (std::optional<std::string> retryAfter = response.valueForHeader("Retry-After"); retryAfter && !retryAfter->empty()) {
    if (std::optional<uint64_t> seconds = retryAfterSeconds(*retryAfter)) {
      return std::min<uint64_t>(*seconds, kMaxWaitMillis / 1000) * 1000;
    }
    ZDTCORLogDebug("CCT: The Retry-After header '" + *retryAfter + "' is no number of seconds; it is ignored.");
  }
  ZDTCORLogDebug("CCT: The backend response failed to parse, so the next request won't occur until 15 minutes from now");
  return kDefaultWaitMillis;
}

void ZDTCCTUploadOperation::updateNextUploadTime(const ZDTCCTURLSessionDataResponse& response) {
  m_responseStatusCode = response.HTTPResponse.statusCode();
  const uint64_t wait = waitMillisForResponse(response.HTTPResponse, response.HTTPBody);
  m_metadataProvider->setNextUploadTime(ZDTCORClock::clockSnapshotInTheFuture(wait), m_target);
}

RBLPromisePtr ZDTCCTUploadOperation::offerMetricsBack() {
  if (!m_metricsController || !m_currentMetrics) return RBLPromise::resolvedWith(Value());
  return m_metricsController->offerMetrics(m_currentMetrics);
}

RBLPromisePtr ZDTCCTUploadOperation::processResponse(const ZDTCCTURLSessionDataResponse& response,
                                                     const std::shared_ptr<ZDTCORUploadBatch>& batch) {
  const int status = response.HTTPResponse.statusCode();
  const std::string name = "CCT: batch " + std::to_string(batch->batchID());
  if (status >= 200 && status <= 299) {
    ZDTCORLogDebug(name + " uploaded. Batch will be deleted.");
    return m_storage->removeBatchWithID(batch->batchID(), true);
  }
  RBLResolutions work{offerMetricsBack()};
  if (status == 404 || status == 429 || (status >= 500 && status <= 599)) {
    ZDTCORLogDebug(name + " upload failed. Batch will attempt to be uploaded later.");
    work.emplace_back(m_storage->removeBatchWithID(batch->batchID(), false));
  } else {
    ZDTCORLogDebug(name + " upload failed. Batch will be deleted.");
    if (status == 400 && m_metricsController) {
      work.emplace_back(m_metricsController->logEventsDroppedForReason(ZDTCOREventDropReasonInvalidPayload,
                                                                      batch->events()));
    }
    work.emplace_back(m_storage->removeBatchWithID(batch->batchID(), true));
  }
  return RBLPromise::onQueueAll(m_queue, std::move(work));
}

void ZDTCCTUploadOperation::endBackgroundTask() {
  ZDTCORBackgroundIdentifier task = ZDTCORBackgroundIdentifierInvalid;
  {
    std::lock_guard lock(m_mutex);
    std::swap(task, m_backgroundTaskID);
  }
  if (task != ZDTCORBackgroundIdentifierInvalid) m_application->endBackgroundTask(task);
}

void ZDTCCTUploadOperation::backgroundTaskExpired() {
  std::shared_ptr<platform::HttpTask> inFlight;
  {
    std::lock_guard lock(m_mutex);
    if (m_backgroundTaskID == ZDTCORBackgroundIdentifierInvalid) {
      ZDTCORLog(ZDTCORMCDDebugLog, ZDTCORLoggingLevelWarnings,
                "Attempted to cancel invalid background task in ZDTCCTUploadOperation.");
      return;
    }
    inFlight = m_currentTask;
  }
  if (inFlight) inFlight->cancel();
  endBackgroundTask();
}
