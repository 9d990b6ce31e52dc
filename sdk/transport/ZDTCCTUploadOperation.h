// ZDTCCTUploadOperation: one upload of one target's stored events, run by the
// uploader's operation queue (one operation at a time).
//
// The chain, every step on the uploader's queue; a step that fails or finds
// nothing to do ends it quietly:
//   1. a background task "ZDTCCTUploader-upload" is begun (its expiry cancels
//      the request in flight);
//   2. readiness: never without a network (bit 1); always when forced (bit
//      0x10); otherwise when no next upload time is stored for the target or
//      a fresh clock snapshot is after it;
//   3. the target's leftover batches give their events back; the target must
//      have events; a batch (expiring in 600 s) takes the events the
//      conditions select: all when forced, else tiers {0, 1, 3, 4, 5} over
//      wifi (bit 4) and {3, 4} over mobile (bit 2);
//   4. with a metrics controller, its report joins the batch as one unstored
//      event of mapping ID "1710" (not when the batch is full);
//   5. unless cancelled meanwhile, the batch is encoded
//      (ZDTCCTNanopbHelpers.h), gzipped when that is shorter, and POSTed;
//   6. the response sets the target's next upload time and settles the batch:
//        200-299            events deleted, report delivered
//        404, 429, 500-599  events back to the pool, report offered back
//        400                events deleted and counted as dropped (reason 5),
//                           report offered back
//        any other          events deleted, report offered back
//      A transport error, an encoding failure or any failure while settling
//      gives the events back and offers the report back.
// The operation then finishes and ends the background task once.
//
// Next upload time: next_wait_ms of the decoded body; else a "Retry-After"
// header holding a number of seconds (a negative or non-numeric value is
// ignored); else 15 minutes. Waits are clamped to 0 .. 24 hours and added
// without overflow.
//
// Request: POST with "X-Zoruvu-Api-Key" (targets with a key only),
// "Content-Encoding: gzip" (gzipped bodies only), "Content-Type:
// application/x-protobuf", "Accept-Encoding: gzip" and "User-Agent:
// datatransport/0.0.1 <name>support/0.0.1 apple/". A 301 or 302 redirect is
// rebuilt the same way for the operation's own target and the new address;
// on every redirect the key goes along only when the new address is https
// or on the configured endpoint's host. A redirect that would send the rest
// without the body (303) fails the upload like a transport error: the events
// stay for the next one.
//
// Thread safety: the accessors may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/Operation.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/net/HttpRequest.h"
#include "platform/net/HttpResponse.h"
#include "platform/net/HttpSession.h"
#include "sdk/promises/RBLPromise.h"
#include "sdk/transport/ZDTCORApplication.h"
#include "sdk/transport/ZDTCORClock.h"
#include "sdk/transport/ZDTCORMetrics.h"
#include "sdk/transport/ZDTCORMetricsControllerProtocol.h"
#include "sdk/transport/ZDTCORStoragePromiseProtocol.h"
#include "sdk/transport/ZDTCORUploadBatch.h"
#include "sdk/transport/ZDTCORUploader.h"

// Next upload times and API keys, kept by the uploader.
class ZDTCCTUploadMetadataProvider {
 public:
  virtual ~ZDTCCTUploadMetadataProvider() = default;
  virtual std::optional<ZDTCORClock> nextUploadTimeForTarget(int64_t target) = 0;
  // None removes the target's time.
  virtual void setNextUploadTime(std::optional<ZDTCORClock> time, int64_t target) = 0;
  virtual std::optional<std::string> APIKeyForTarget(int64_t target) = 0;
};

// The answer to one upload request.
struct ZDTCCTURLSessionDataResponse {
  platform::HttpResponse HTTPResponse;
  platform::Bytes HTTPBody;
};

class ZDTCCTUploadOperation : public platform::Operation {
 public:
  static constexpr const char* kErrorDomain = "ZDTCCTUploader";
  static constexpr const char* kBackgroundTaskName = "ZDTCCTUploader-upload";
  static constexpr double kBatchExpiration = 600;          // seconds
  static constexpr uint64_t kDefaultWaitMillis = 900000;   // 15 minutes
  static constexpr uint64_t kMaxWaitMillis = 86400000;     // 24 hours

  // `application` defaults to the shared adapter.
  ZDTCCTUploadOperation(int64_t target, ZDTCORUploadConditions conditions, std::string uploadURL,
                        platform::SerialQueue uploaderQueue, std::shared_ptr<ZDTCORStoragePromiseProtocol> storage,
                        std::shared_ptr<ZDTCCTUploadMetadataProvider> metadataProvider,
                        std::shared_ptr<ZDTCORMetricsControllerProtocol> metricsController,
                        std::shared_ptr<ZDTCORApplicationProtocol> application = nullptr);

  int64_t target() const { return m_target; }
  ZDTCORUploadConditions conditions() const { return m_conditions; }
  const std::string& uploadURL() const { return m_uploadURL; }
  bool uploadAttempted() const { return m_uploadAttempted.load(); }
  // The HTTP status of the answer (0 when none came) and the number of
  // events the request carried (0 when none was sent).
  int responseStatusCode() const { return m_responseStatusCode.load(); }
  size_t uploadedEventCount() const { return m_uploadedEventCount.load(); }
  std::string description() const;

  // "cct", "fll", "csh", "int" for 1000 to 1003, else "unknown".
  static std::string targetName(int64_t target);
  // The upload request, or none (logged) without data.
  static std::optional<platform::HttpRequest> constructRequest(const std::string& url, int64_t target,
                                                               const platform::Bytes& data,
                                                               const std::optional<std::string>& apiKey);
  // The wait a response asks for, in milliseconds (see above).
  static uint64_t waitMillisForResponse(const platform::HttpResponse& response, const platform::Bytes& body);
  // Whole seconds of a "Retry-After" value; none when it is not a
  // non-negative number.
  static std::optional<uint64_t> retryAfterSeconds(const std::string& value);

 protected:
  void execute() override;

 private:
  std::shared_ptr<ZDTCCTUploadOperation> self();
  void uploadTarget();
  RBLPromisePtr isReadyToUploadTarget();
  ZDTCORStorageEventSelector eventSelector() const;
  RBLPromisePtr batchByAddingMetricsEvent(std::shared_ptr<ZDTCORUploadBatch> batch);
  RBLPromisePtr uploadBatch(std::shared_ptr<ZDTCORUploadBatch> batch);
  RBLPromisePtr sendURLRequestWithBatch(const std::shared_ptr<ZDTCORUploadBatch>& batch);
  void updateNextUploadTime(const ZDTCCTURLSessionDataResponse& response);
  RBLPromisePtr processResponse(const ZDTCCTURLSessionDataResponse& response,
                                const std::shared_ptr<ZDTCORUploadBatch>& batch);
  RBLPromisePtr offerMetricsBack();
  // A 301/302 is rebuilt with the request's body for this operation's target;
  // none for a redirect that would drop the body (the upload then fails).
  std::optional<platform::RedirectDecision> redirect(int status, const platform::HttpRequest& proposed,
                                                     const platform::Bytes& body);
  void endBackgroundTask();
  void backgroundTaskExpired();

  const int64_t m_target;
  const ZDTCORUploadConditions m_conditions;
  const std::string m_uploadURL;
  const platform::SerialQueue m_queue;
  const std::shared_ptr<ZDTCORStoragePromiseProtocol> m_storage;
  const std::shared_ptr<ZDTCCTUploadMetadataProvider> m_metadataProvider;
  const std::shared_ptr<ZDTCORMetricsControllerProtocol> m_metricsController;
  const std::shared_ptr<ZDTCORApplicationProtocol> m_application;

  std::atomic<bool> m_uploadAttempted{false};
  std::atomic<int> m_responseStatusCode{0};
  std::atomic<size_t> m_uploadedEventCount{0};

  // Guards what the background task's expiry may touch from another thread.
  mutable std::mutex m_mutex;
  ZDTCORBackgroundIdentifier m_backgroundTaskID = ZDTCORBackgroundIdentifierInvalid;
  std::shared_ptr<platform::HttpTask> m_currentTask;
  // Touched only on the uploader's queue.
  std::shared_ptr<ZDTCORMetrics> m_currentMetrics;
};
