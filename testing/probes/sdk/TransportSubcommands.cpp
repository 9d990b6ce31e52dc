// sdk-probe event transport subcommands:
//
//   transport-log --target T --mapping M --qos Q [--payload-hex HEX]
//                 [--product-data N] [--count N]
//       logs N (default 1) events through a transport as a library would
//       (tier 1 as telemetry), waits until storage has written them, and
//       prints "=> NAME" for each stored event file (relative to the
//       target's event folder), in sending order.
//   transport-state
//       "=> PATH" for each folder and "=> PATH SIZE" for each file under the
//       transport's state folder, relative to it, sorted by path.
//   transport-encode-event --time-ms N --tz-offset-s N --uptime-ns N
//                 [--payload-hex HEX] [--product-data N] [--event-code N]
//       "=> HEX" of the upload wire encoding of one event with that clock
//       snapshot.
//   transport-upload --target T
//       forces an upload of the stored events of target T to the configured
//       collector, as the upload coordinator does for an event of tier 4 on
//       a network (the probe's own reachability is not asked, so that a run
//       does not depend on the machine's network; the upload timer is
//       stopped first), pumps until the operation ends, and prints
//       "=> status=N events=N" (0 and 0 when nothing was sent) and the
//       target's next upload time as "=> next=SECONDS" (seconds from now,
//       rounded down; "=> next=none" when none is set).
//   transport-metrics-encode --window-start-ms N --window-end-ms N --source S
//                 --reason R --count N --current-bytes N --max-bytes N
//                 --bundle-id ID
//       "=> HEX" of the client-metrics encoding of that report.
//
// The SDK is configured from the bundle's options file first, as the
// application does. Errors print "=> error ..." and fail the run.
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/dispatch/MainQueue.h"
#include "platform/crypto/Digest.h"
#include "platform/storage/FileSystem.h"
#include "platform/text/NumberText.h"
#include "sdk/core/RIRApp.h"
#include "sdk/transport/ZDTCCTNanopbHelpers.h"
#include "sdk/transport/ZDTCCTUploader.h"
#include "sdk/transport/ZDTCORFlatFileStorage.h"
#include "sdk/transport/ZDTCORMetrics.h"
#include "sdk/transport/ZDTCORPlatform.h"
#include "sdk/transport/ZDTCORRegistrar.h"
#include "sdk/transport/ZDTCORTransport.h"
#include "sdk/transport/ZDTCORUploadCoordinator.h"
#include "testing/probes/sdk/ProbeCommand.h"

namespace sdkprobe {

namespace {

using Options = std::map<std::string, std::string>;

// "--name VALUE" pairs; none (after an error line) for an unknown or
// repeated name or a missing required one.
std::optional<Options> parseOptions(const std::vector<std::string>& arguments, const std::set<std::string>& required,
                                    const std::set<std::string>& optional) {
  Options options;
  for (size_t index = 0; index + 1 < arguments.size(); index += 2) {
    const std::string name = arguments[index].substr(2);
    if ((!required.contains(name) && !optional.contains(name)) || options.contains(name)) {
      result("error: unexpected option " + arguments[index]);
      return std::nullopt;
    }
    options[name] = arguments[index + 1];
  }
  for (const std::string& name : required) {
    if (!options.contains(name)) {
      result("error: missing --" + name);
      return std::nullopt;
    }
  }
  return options;
}

std::optional<int64_t> integerOption(const Options& options, const std::string& name) {
  auto found = options.find(name);
  if (found == options.end()) return std::nullopt;
  std::optional<int64_t> value = platform::NumberText::parseInt64(found->second);
  if (!value) result("error: --" + name + " needs an integer, not '" + found->second + "'");
  return value;
}

std::optional<platform::Bytes> hexOption(const Options& options, const std::string& name) {
  auto found = options.find(name);
  if (found == options.end()) return platform::Bytes{};
  const std::string& text = found->second;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  const bool pairs = text.size() % 2 == 0 &&
                     std::all_of(text.begin(), text.end(), [&](char c) { return digit(c) >= 0; });
  if (!pairs) {
    result("error: --" + name + " needs pairs of hexadecimal digits");
    return std::nullopt;
  }
  platform::Bytes bytes;
  for (size_t index = 0; index < text.size(); index += 2) {
    bytes.push_back(static_cast<uint8_t>(digit(text[index]) * 16 + digit(text[index + 1])));
  }
  return bytes;
}

// Sees every event on its way to storage, as stored.
class Recorder : public ZDTCOREventTransformer {
 public:
  std::shared_ptr<ZDTCOREvent> transformZDTEvent(std::shared_ptr<ZDTCOREvent> event) override {
    std::lock_guard lock(m_mutex);
    m_events.push_back(event);
    return event;
  }
  ZDTCOREventSet events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
  }

 private:
  mutable std::mutex m_mutex;
  ZDTCOREventSet m_events;
};

void configureSDK() {
  if (!RIRApp::isDefaultAppConfigured()) RIRApp::configure();
}

int transportLog(const std::vector<std::string>& arguments) {
  std::optional<Options> options =
      parseOptions(arguments, {"target", "mapping", "qos"}, {"payload-hex", "product-data", "count"});
  if (!options) return 2;
  std::optional<int64_t> target = integerOption(*options, "target");
  std::optional<int64_t> qos = integerOption(*options, "qos");
  std::optional<int64_t> count = options->contains("count") ? integerOption(*options, "count") : 1;
  std::optional<int64_t> productID = options->contains("product-data") ? integerOption(*options, "product-data")
                                                                         : std::optional<int64_t>(0);
  std::optional<platform::Bytes> payload = hexOption(*options, "payload-hex");
  if (!target || !qos || !count || !productID || !payload) return 2;
  if (*count < 1 || *count > 100000 || *productID < INT32_MIN || *productID > INT32_MAX) {
    result("error: --count must be 1 to 100000 and --product-data a 32-bit integer");
    return 2;
  }
  configureSDK();
  if (!ZDTCORStorageInstanceForTarget(*target)) {
    result("error: no storage for target " + std::to_string(*target));
    return 1;
  }
  auto recorder = std::make_shared<Recorder>();
  std::shared_ptr<ZDTCORTransport> transport =
      ZDTCORTransport::initWithMappingID(options->at("mapping"), {recorder}, *target);
  if (!transport) {
    result("error: no transport for that mapping ID and target");
    return 1;
  }

  std::atomic<int64_t> finished{0};
  std::mutex mutex;
  std::optional<platform::Error> failure;
  for (int64_t index = 0; index < *count; ++index) {
    std::shared_ptr<ZDTCOREvent> event =
        options->contains("product-data")
            ? transport->eventForTransportWithProductData(ZDTCORProductData(static_cast<int32_t>(*productID)))
            : transport->eventForTransport();
    event->setQosTier(*qos);
    event->setDataObject(std::make_shared<ZDTCORBytesDataObject>(*payload));
    auto completion = [&](bool written, std::optional<platform::Error> error) {
      if (!written) {
        std::lock_guard lock(mutex);
        if (!failure) failure = error.value_or(platform::Error("ZDTCORTransport", -1));
      }
      ++finished;
    };
    if (*qos == ZDTCOREventQoSTelemetry) {
      transport->sendTelemetryEvent(event, completion);
    } else {
      transport->sendDataEvent(event, completion);
    }
  }
  if (!platform::MainQueue::runUntil([&] { return finished.load() == *count; }, kProbeWaitSeconds)) {
    result("error timeout");
    return 1;
  }
  for (const std::shared_ptr<ZDTCOREvent>& event : recorder->events()) {
    result(platform::fs::lastPathComponent(ZDTCORFlatFileStorage::pathForTarget(
        event->target(), event->eventID(), event->qosTier(), event->expirationDate(), event->mappingID())));
  }
  if (failure) {
    result("error " + failure->domain + " " + std::to_string(failure->code) + " " +
           failure->failureReason().value_or(failure->localizedDescription()));
    return 1;
  }
  return 0;
}

int transportState(const std::vector<std::string>&) {
  configureSDK();
  const std::string root = ZDTCORResolveRootDirectory();
  std::vector<std::pair<std::string, std::string>> lines;
  platform::fs::walk(root, [&](const platform::fs::WalkEntry& entry) {
    const std::string relative = entry.path.substr(root.size() + 1);
    lines.emplace_back(relative, entry.isRegularFile ? relative + " " + std::to_string(entry.size) : relative);
  });
  std::sort(lines.begin(), lines.end());
  for (const auto& line : lines) result(line.second);
  return 0;
}

int transportEncodeEvent(const std::vector<std::string>& arguments) {
  std::optional<Options> options = parseOptions(arguments, {"time-ms", "tz-offset-s", "uptime-ns"},
                                                {"payload-hex", "product-data", "event-code"});
  if (!options) return 2;
  std::optional<int64_t> timeMillis = integerOption(*options, "time-ms");
  std::optional<int64_t> offset = integerOption(*options, "tz-offset-s");
  std::optional<int64_t> uptime = integerOption(*options, "uptime-ns");
  std::optional<platform::Bytes> payload = hexOption(*options, "payload-hex");
  if (!timeMillis || !offset || !uptime || !payload) return 2;
  std::optional<int64_t> productID;
  std::optional<int64_t> eventCode;
  if (options->contains("product-data") && !(productID = integerOption(*options, "product-data"))) return 2;
  if (options->contains("event-code") && !(eventCode = integerOption(*options, "event-code"))) return 2;
  if (productID && (*productID < INT32_MIN || *productID > INT32_MAX)) {
    result("error: --product-data must be a 32-bit integer");
    return 2;
  }
  std::optional<ZDTCORProductData> productData;
  if (productID) productData = ZDTCORProductData(static_cast<int32_t>(*productID));
  std::shared_ptr<ZDTCOREvent> event = ZDTCOREvent::initWithMappingID("1", productData, 1000);
  event->setDataObject(std::make_shared<ZDTCORBytesDataObject>(*payload));
  event->setClockSnapshot(ZDTCORClock(*timeMillis, *offset, 0, *uptime));
  if (eventCode) event->setEventCode(*eventCode);
  platform::Result<platform::Bytes> encoded = ZDTCCTEncodeLogEvent(*event);
  if (!encoded) {
    result("error " + encoded.error().localizedDescription());
    return 1;
  }
  result(platform::Digest::hex(encoded.value()));
  return 0;
}

int transportUpload(const std::vector<std::string>& arguments) {
  std::optional<Options> options = parseOptions(arguments, {"target"}, {});
  if (!options) return 2;
  std::optional<int64_t> target = integerOption(*options, "target");
  if (!target) return 2;
  configureSDK();
  if (!ZDTCORRegistrar::sharedInstance()->targetToUploader().contains(*target)) {
    result("error: no uploader for target " + std::to_string(*target));
    return 1;
  }
  // Nothing but this upload: the timer stops, queued operations end.
  std::shared_ptr<ZDTCORUploadCoordinator> coordinator = ZDTCORUploadCoordinator::sharedInstance();
  coordinator->stopTimer();
  coordinator->coordinationQueue().sync([] {});
  std::shared_ptr<ZDTCCTUploader> uploader = ZDTCCTUploader::sharedInstance();
  if (!platform::MainQueue::runUntil([&] { return uploader->uploadOperationQueue().operationCount() == 0; },
                                     kProbeWaitSeconds)) {
    result("error timeout");
    return 1;
  }
  std::shared_ptr<ZDTCCTUploadOperation> operation =
      uploader->scheduleUploadOfTarget(*target, ZDTCORUploadConditionWifiData | ZDTCORUploadConditionHighPriority);
  if (!operation) {
    result("error: no storage for target " + std::to_string(*target));
    return 1;
  }
  if (!platform::MainQueue::runUntil([&] { return operation->isFinished(); }, kProbeWaitSeconds)) {
    result("error timeout");
    return 1;
  }
  result("status=" + std::to_string(operation->responseStatusCode()) +
         " events=" + std::to_string(operation->uploadedEventCount()));
  std::optional<ZDTCORClock> next = uploader->nextUploadTimeForTarget(*target);
  if (!next) {
    result("next=none");
    return 0;
  }
  const int64_t millis = next->timeMillis() - ZDTCORClock::snapshot().timeMillis();
  result("next=" + std::to_string(millis >= 0 ? millis / 1000 : -((-millis + 999) / 1000)));
  return 0;
}

int transportMetricsEncode(const std::vector<std::string>& arguments) {
  std::optional<Options> options =
      parseOptions(arguments,
                   {"window-start-ms", "window-end-ms", "source", "reason", "count", "current-bytes", "max-bytes",
                    "bundle-id"},
                   {});
  if (!options) return 2;
  std::optional<int64_t> start = integerOption(*options, "window-start-ms");
  std::optional<int64_t> end = integerOption(*options, "window-end-ms");
  std::optional<int64_t> reason = integerOption(*options, "reason");
  std::optional<int64_t> count = integerOption(*options, "count");
  std::optional<int64_t> current = integerOption(*options, "current-bytes");
  std::optional<int64_t> maximum = integerOption(*options, "max-bytes");
  if (!start || !end || !reason || !count || !current || !maximum) return 2;
  if (*current < 0 || *maximum < 0) {
    result("error: --current-bytes and --max-bytes must not be negative");
    return 2;
  }
  ZDTCORLogSourceMetrics::Counts counts;
  if (!options->at("source").empty()) counts[options->at("source")][*reason] = *count;
  ZDTCORMetrics metrics(static_cast<double>(*start) / 1000, static_cast<double>(*end) / 1000,
                        std::make_shared<ZDTCORLogSourceMetrics>(std::move(counts)), static_cast<uint64_t>(*current),
                        static_cast<uint64_t>(*maximum), options->at("bundle-id"));
  result(platform::Digest::hex(metrics.transportBytes()));
  return 0;
}

// Every following "--name VALUE" pair.
size_t optionPairs(const std::vector<std::string>& following) {
  size_t count = 0;
  while (count + 1 < following.size() && following[count].rfind("--", 0) == 0) count += 2;
  return count;
}

}  // namespace

std::vector<Subcommand> transportSubcommands() {
  return {
      {"transport-log", 0,
       "transport-log --target T --mapping M --qos Q [--payload-hex HEX] [--product-data N] [--count N]",
       transportLog, optionPairs},
      {"transport-state", 0, "transport-state", transportState},
      {"transport-encode-event", 0,
       "transport-encode-event --time-ms N --tz-offset-s N --uptime-ns N [--payload-hex HEX] [--product-data N] "
       "[--event-code N]",
       transportEncodeEvent, optionPairs},
      {"transport-upload", 0, "transport-upload --target T", transportUpload, optionPairs},
      {"transport-metrics-encode", 0,
       "transport-metrics-encode --window-start-ms N --window-end-ms N --source S --reason R --count N "
       "--current-bytes N --max-bytes N --bundle-id ID",
       transportMetricsEncode, optionPairs},
  };
}

}  // namespace sdkprobe
