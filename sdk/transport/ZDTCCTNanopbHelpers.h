// ZDTCCTNanopbHelpers: the upload request built from a batch of events, the
// collector's answer, and the parts of both (zdt_cct.proto, encoded and
// decoded with nanopb).
//
// Request: one LogRequest per distinct mapping ID (sorted by mapping ID),
// each with the client description (kind 15, the desktop device: system
// version "major.minor" and "major.minor.patch", the bundle's CFBundleVersion
// and identifier when present), source_id = the mapping ID's leading decimal
// digits (0 when none), its events in the batch's order, and sent_at_ms /
// sent_uptime_ms of a clock snapshot taken for that entry. One LogEvent per
// event: occurred_at_ms, tz_offset_s and uptime_ms of its clock snapshot
// (0 without one), payload (always written, empty without bytes), and from
// the custom bytes the event code and the network record when present, and
// compliance (origin 5) when the event has product data.
//
// Limits: the nanopb library counts lengths and repeated fields in 16 bits.
// A bytes field longer than 65,535 bytes, or more than 65,535 events of one
// mapping ID or mapping IDs in one request, fails the encoding (logged with
// code 1006 at level 4) instead of being cut; an encoding that fails yields
// no bytes at all, never a part of the request. The storage's batch cap
// (ZDTCORFlatFileStorage::kMaxEventsPerBatch) keeps batches within it.
//
// Network record: 16 bytes, byte 0 kind present (0/1), bytes 4-7 the kind
// (signed 32-bit little-endian), byte 8 subtype present (0/1), bytes 12-15
// the mobile subtype (unsigned 32-bit little-endian), the rest 0. A shorter
// record reads as if padded with zeros; bytes beyond 16 are ignored.
//
// Response: LogResponse decoded from the body; damaged bytes give the error
// NSURLErrorDomain -1 with userInfo {"nanopb error": the runtime's message}.
//
// Thread safety: stateless; call from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Error.h"
#include "platform/values/Value.h"
#include "sdk/transport/ZDTCOREvent.h"
#include "zdt_cct.pb.h"

inline constexpr uint32_t kZDTCCTClientKind = 15;
inline constexpr uint32_t kZDTCCTProductIDOrigin = 5;
inline constexpr size_t kZDTCCTNetworkRecordSize = 16;
inline constexpr const char* kZDTCCTNanopbErrorKey = "nanopb error";

// The decoded answer of the collector.
struct ZDTCCTLogResponse {
  struct TierConfiguration {
    std::optional<uint32_t> tier;
    int32_t logSource = 0;
  };
  std::optional<int64_t> nextWaitMs;
  std::vector<TierConfiguration> tierSettings;  // decoded, not used
};

// What the requests say of the system and the main bundle, read once and
// kept for the process (ZDTCCTUploader::load reads it at start-up, so that an
// upload still running while the process exits never reaches the bundle).
struct ZDTCCTClientFacts {
  std::string osVersionShort;  // "major.minor" of the kernel release
  std::string osVersionFull;   // "major.minor.patch"
  std::optional<std::string> appBuild;  // CFBundleVersion
  std::optional<std::string> appID;     // the bundle identifier
};
const ZDTCCTClientFacts& ZDTCCTCurrentClientFacts();

// The encoded BatchedLogRequest of the events; empty after a failure.
platform::Bytes ZDTCCTEncodeBatchedLogRequest(const ZDTCOREventSet& events);
// One event's LogEvent, as the request carries it; an error when it does not
// fit the limits.
platform::Result<platform::Bytes> ZDTCCTEncodeLogEvent(const ZDTCOREvent& event);
platform::Result<ZDTCCTLogResponse> ZDTCCTDecodeLogResponse(const platform::Bytes& body);

// --- single parts (the caller releases them with pb_release) ---
zdt_cct_ClientInfo ZDTCCTConstructClientInfo();
zdt_cct_IosClientInfo ZDTCCTConstructiOSClientInfo();
zdt_cct_ComplianceData ZDTCCTConstructComplianceData(int32_t productID);

// --- the network record ---
zdt_cct_NetworkConnectionInfo ZDTCCTNetworkConnectionInfoFromRecord(const platform::Bytes& record);
platform::Bytes ZDTCCTNetworkConnectionInfoRecord(const zdt_cct_NetworkConnectionInfo& info);
// The record of the current network (wifi when reachable, else none).
platform::Bytes ZDTCCTConstructNetworkConnectionInfoData();
// The wire subtype of a platform mobile subtype (0 when unknown).
uint32_t ZDTCCTMobileSubtypeForPlatformSubtype(int32_t platformSubtype);
