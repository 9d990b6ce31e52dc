// FakeMeasurementUploadService: a loopback measurement upload service for
// tests. It takes
//
//   POST /a        body: a gzip-compressed MeasurementBatch
//
// on a LoopbackServer it is given (the server undoes the gzip
// Content-Encoding), decodes the body through the wire messages and hands
// tests the batches with their bundles, events, parameters and user
// attributes; the decoded messages stay available for reading any slot.
// Answers come from a script of statuses (or dropped connections), in order;
// once it is used up every upload gets the default answer (204).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/messages/APMPBMessage.h"
#include "platform/values/Value.h"
#include "testing/LoopbackServer.h"

namespace testkit {

struct UploadedEvent {
  std::string name;
  int64_t timestampMs = 0;
  std::optional<int64_t> previousTimestampMs;
  std::optional<int64_t> eltValue;  // Event tag 6
  // name -> a string, an int64, a double, or an array of {name: value}
  // dictionaries for a parameter that holds a list.
  platform::Dictionary params;

  bool hasParam(const std::string& key) const { return params.contains(key); }
};

struct UploadedAttribute {
  std::string name;
  int64_t setTimestampMs = 0;
  platform::Value value;  // a string, an int64 or a double
};

struct UploadedBundle {
  std::shared_ptr<APMPBMeasurementBundle> message;
  std::vector<UploadedEvent> events;
  std::vector<UploadedAttribute> attributes;

  // The events of that name, in bundle order.
  std::vector<UploadedEvent> eventsNamed(const std::string& name) const;
  const UploadedAttribute* attribute(const std::string& name) const;
};

struct UploadedBatch {
  RecordedRequest raw;
  std::shared_ptr<APMPBMeasurementBatch> message;  // nullptr when the body did not decode
  std::vector<UploadedBundle> bundles;
};

class FakeMeasurementUploadService {
 public:
  static constexpr const char* kPath = "/a";

  explicit FakeMeasurementUploadService(LoopbackServer& server);
  // Stops the server it answers on: its handlers use this object's members.
  ~FakeMeasurementUploadService();
  FakeMeasurementUploadService(const FakeMeasurementUploadService&) = delete;
  FakeMeasurementUploadService& operator=(const FakeMeasurementUploadService&) = delete;

  // The next uploads get these answers (statuses, or Answer::close()), in order.
  void script(std::vector<Answer> answers);
  void scriptStatuses(const std::vector<int>& statuses);
  void setDefaultAnswer(Answer answer);

  // Uploads so far, oldest first, decoded.
  std::vector<UploadedBatch> batches() const;
  size_t uploadCount() const;
  bool waitForUploads(size_t count, double timeoutSeconds = 10) const;

  static UploadedBatch decode(const RecordedRequest& request);

 private:
  Answer answer();

  LoopbackServer& m_server;
  mutable std::mutex m_mutex;
  std::deque<Answer> m_script;
  Answer m_defaultAnswer;
};

}  // namespace testkit
