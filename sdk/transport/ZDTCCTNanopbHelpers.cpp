#include "sdk/transport/ZDTCCTNanopbHelpers.h"

#include <pb_decode.h>
#include <pb_encode.h>
#include <sys/utsname.h>

#include <cstdio>
#include <limits>
#include <map>

#include "platform/app/Bundle.h"
#include "platform/values/Value.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCORPlatform.h"
#include "sdk/transport/internal/ZDTCORNanopbBuilder.h"

using platform::Bytes;

namespace {

using zdtcor_internal::NanopbBuilder;

void logEncodingError(const std::string& stage, const std::string& message) {
  ZDTCORLog(ZDTCORMCEGeneralError, ZDTCORLoggingLevelErrors,
            "Error in nanopb encoding for " + stage + ": " + (message.empty() ? "(none)" : message));
}

void fillClientInfo(NanopbBuilder& builder, zdt_cct_ClientInfo& client) {
  client = zdt_cct_ClientInfo_init_default;
  client.has_client_kind = true;
  client.client_kind = kZDTCCTClientKind;
  client.has_desktop_device = true;
  zdt_cct_MacClientInfo& desktop = client.desktop_device;
  const ZDTCCTClientFacts& facts = ZDTCCTCurrentClientFacts();
  desktop.os_version_short = builder.bytes(facts.osVersionShort, "os_version_short");
  desktop.os_version_full = builder.bytes(facts.osVersionFull, "os_version_full");
  if (facts.appBuild) desktop.app_build = builder.bytes(*facts.appBuild, "app_build");
  if (facts.appID) desktop.app_id = builder.bytes(*facts.appID, "app_id");
}

void fillComplianceData(zdt_cct_ComplianceData& compliance, int32_t productID) {
  compliance = zdt_cct_ComplianceData_init_default;
  compliance.has_privacy = true;
  compliance.privacy.has_product_holder = true;
  compliance.privacy.product_holder.has_product_id = true;
  compliance.privacy.product_holder.product_id = productID;
  compliance.has_product_id_origin = true;
  compliance.product_id_origin = kZDTCCTProductIDOrigin;
}

void fillLogEvent(NanopbBuilder& builder, const ZDTCOREvent& event, zdt_cct_LogEvent& out) {
  out = zdt_cct_LogEvent_init_default;
  const ZDTCORClock clock = event.clockSnapshot().value_or(ZDTCORClock());
  out.has_occurred_at_ms = true;
  out.occurred_at_ms = clock.timeMillis();
  out.has_tz_offset_s = true;
  out.tz_offset_s = clock.timezoneOffsetSeconds();
  out.has_uptime_ms = true;
  out.uptime_ms = clock.uptimeMilliseconds();
  const std::optional<Bytes>& payload = event.serializedDataObjectBytes();
  out.payload = payload ? builder.bytes(*payload, "payload") : builder.bytes(nullptr, 0, "payload");
  if (event.customBytes()) {
    if (std::optional<Bytes> record = event.networkConnectionInfoData()) {
      out.has_network = true;
      out.network = ZDTCCTNetworkConnectionInfoFromRecord(*record);
    }
    if (std::optional<int64_t> code = event.eventCode()) {
      if (*code >= std::numeric_limits<int32_t>::min() && *code <= std::numeric_limits<int32_t>::max()) {
        out.has_event_code = true;
        out.event_code = static_cast<int32_t>(*code);
      } else {
        ZDTCORLogDebug("The event code " + std::to_string(*code) + " does not fit the upload; it is left out.");
      }
    }
  }
  if (event.productData()) {
    out.has_compliance = true;
    fillComplianceData(out.compliance, event.productData()->productID());
  }
}

int32_t sourceID(const std::string& mappingID) { return platform::Value(mappingID).intValue(); }

uint32_t readUInt32(const Bytes& record, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) {
    if (offset + i < record.size()) value |= static_cast<uint32_t>(record[offset + i]) << (8 * i);
  }
  return value;
}

void writeUInt32(Bytes& record, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

const ZDTCCTClientFacts& ZDTCCTCurrentClientFacts() {
  // Never destroyed: uploads may read it while the process exits.
  static const auto* const facts = [] {
    auto* read = new ZDTCCTClientFacts();
    long major = 0, minor = 0, patch = 0;
    struct utsname names {};
    if (::uname(&names) == 0) std::sscanf(names.release, "%ld.%ld.%ld", &major, &minor, &patch);
    read->osVersionShort = std::to_string(major) + "." + std::to_string(minor);
    read->osVersionFull = read->osVersionShort + "." + std::to_string(patch);
    std::shared_ptr<platform::Bundle> bundle = platform::Bundle::main();
    read->appBuild = bundle->version();
    read->appID = bundle->bundleIdentifier();
    return read;
  }();
  return *facts;
}

Bytes ZDTCCTEncodeBatchedLogRequest(const ZDTCOREventSet& events) {
  std::map<std::string, ZDTCOREventSet> byMappingID;
  for (const std::shared_ptr<ZDTCOREvent>& event : events) {
    if (event) byMappingID[event->mappingID()].push_back(event);
  }
  NanopbBuilder builder;
  zdt_cct_BatchedLogRequest request = zdt_cct_BatchedLogRequest_init_default;
  request.source_batches =
      builder.array<zdt_cct_LogRequest>(byMappingID.size(), &request.source_batches_count, "source_batches");
  size_t index = 0;
  for (const auto& [mappingID, group] : byMappingID) {
    if (request.source_batches == nullptr || builder.failure()) break;
    zdt_cct_LogRequest& entry = request.source_batches[index++];
    if (group.empty()) {
      ZDTCORLog(ZDTCORMCEGeneralError, ZDTCORLoggingLevelErrors, "An empty event set can't be serialized to proto.");
      continue;
    }
    entry = zdt_cct_LogRequest_init_default;
    entry.has_client = true;
    fillClientInfo(builder, entry.client);
    entry.has_source_id = true;
    entry.source_id = sourceID(mappingID);
    entry.events = builder.array<zdt_cct_LogEvent>(group.size(), &entry.events_count, "events");
    for (size_t i = 0; entry.events != nullptr && i < group.size() && !builder.failure(); ++i) {
      fillLogEvent(builder, *group[i], entry.events[i]);
    }
    const ZDTCORClock sent = ZDTCORClock::snapshot();
    entry.has_sent_at_ms = true;
    entry.sent_at_ms = sent.timeMillis();
    entry.has_sent_uptime_ms = true;
    entry.sent_uptime_ms = sent.uptimeMilliseconds();
  }
  zdtcor_internal::NanopbEncoding encoding =
      zdtcor_internal::encodeAndRelease(builder, zdt_cct_BatchedLogRequest_fields, &request);
  if (!encoding.bytes) logEncodingError(encoding.failedStage, encoding.message);
  return encoding.bytes.value_or(Bytes());
}

platform::Result<Bytes> ZDTCCTEncodeLogEvent(const ZDTCOREvent& event) {
  NanopbBuilder builder;
  zdt_cct_LogEvent message = zdt_cct_LogEvent_init_default;
  fillLogEvent(builder, event, message);
  zdtcor_internal::NanopbEncoding encoding = zdtcor_internal::encodeAndRelease(builder, zdt_cct_LogEvent_fields, &message);
  if (!encoding.bytes) {
    // A field over the library's limits is the caller's answer, not a log line.
    if (!builder.failure()) logEncodingError(encoding.failedStage, encoding.message);
    return platform::Error::make("ZDTCCTNanopbHelpers", -1, builder.failure().value_or("The event could not be encoded."));
  }
  return std::move(*encoding.bytes);
}

platform::Result<ZDTCCTLogResponse> ZDTCCTDecodeLogResponse(const Bytes& body) {
  zdt_cct_LogResponse message = zdt_cct_LogResponse_init_default;
  pb_istream_t stream = pb_istream_from_buffer(body.data(), body.size());
  if (!pb_decode(&stream, zdt_cct_LogResponse_fields, &message)) {
    platform::Error error("NSURLErrorDomain", -1);
    const char* reason = PB_GET_ERROR(&stream);
    error.setUserInfo(kZDTCCTNanopbErrorKey, platform::Value(std::string(reason ? reason : "(none)")));
    pb_release(zdt_cct_LogResponse_fields, &message);
    return error;
  }
  ZDTCCTLogResponse response;
  if (message.has_next_wait_ms) response.nextWaitMs = message.next_wait_ms;
  if (message.has_tier_settings) {
    for (pb_size_t i = 0; i < message.tier_settings.entries_count; ++i) {
      const zdt_cct_QosTierConfiguration& entry = message.tier_settings.entries[i];
      ZDTCCTLogResponse::TierConfiguration tier;
      if (entry.has_tier) tier.tier = entry.tier;
      tier.logSource = entry.log_source;
      response.tierSettings.push_back(tier);
    }
  }
  pb_release(zdt_cct_LogResponse_fields, &message);
  return response;
}

zdt_cct_ClientInfo ZDTCCTConstructClientInfo() {
  NanopbBuilder builder;
  zdt_cct_ClientInfo client;
  fillClientInfo(builder, client);
  return client;
}

zdt_cct_IosClientInfo ZDTCCTConstructiOSClientInfo() { return zdt_cct_IosClientInfo_init_zero; }

zdt_cct_ComplianceData ZDTCCTConstructComplianceData(int32_t productID) {
  zdt_cct_ComplianceData compliance;
  fillComplianceData(compliance, productID);
  return compliance;
}

zdt_cct_NetworkConnectionInfo ZDTCCTNetworkConnectionInfoFromRecord(const Bytes& record) {
  zdt_cct_NetworkConnectionInfo info = zdt_cct_NetworkConnectionInfo_init_default;
  info.has_network_type = !record.empty() && record[0] != 0;
  info.network_type = static_cast<int32_t>(readUInt32(record, 4));
  info.has_mobile_subtype = record.size() > 8 && record[8] != 0;
  info.mobile_subtype = readUInt32(record, 12);
  return info;
}

Bytes ZDTCCTNetworkConnectionInfoRecord(const zdt_cct_NetworkConnectionInfo& info) {
  Bytes record(kZDTCCTNetworkRecordSize, 0);
  record[0] = info.has_network_type ? 1 : 0;
  writeUInt32(record, 4, static_cast<uint32_t>(info.network_type));
  record[8] = info.has_mobile_subtype ? 1 : 0;
  writeUInt32(record, 12, info.mobile_subtype);
  return record;
}

uint32_t ZDTCCTMobileSubtypeForPlatformSubtype(int32_t platformSubtype) {
  // Platform subtypes 1 to 11 in order; 0 and anything else have none.
  static constexpr uint32_t kWire[] = {0, 1, 2, 0, 8, 9, 4, 5, 6, 12, 14, 13};
  return platformSubtype >= 0 && platformSubtype <= 11 ? kWire[platformSubtype] : 0;
}

Bytes ZDTCCTConstructNetworkConnectionInfoData() {
  zdt_cct_NetworkConnectionInfo info = zdt_cct_NetworkConnectionInfo_init_default;
  switch (ZDTCORNetworkTypeMessage()) {
    case 1:
      info.has_network_type = true;
      info.network_type = 1;
      break;
    case 2:
      info.has_network_type = true;
      info.network_type = 0;
      if (uint32_t subtype = ZDTCCTMobileSubtypeForPlatformSubtype(ZDTCORNetworkMobileSubTypeMessage())) {
        info.has_mobile_subtype = true;
        info.mobile_subtype = subtype;
      }
      break;
    default:
      break;
  }
  return ZDTCCTNetworkConnectionInfoRecord(info);
}
