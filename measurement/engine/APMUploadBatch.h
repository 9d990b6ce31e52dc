// APMComposeUploadBatch: the batch of one upload from the queued bundles that
// are batch-compatible by app and device. In order, each bundle gets the
// library version and the upload time (milliseconds), the data controls
// applied with the identity, and, when checksums are on, the checksum of its
// encoding with those fields set; the first bundle whose consent differs
// from the first's ends the batch. The batch carries the subdomain when one
// is given. rowIDs are those of the bundles in the batch, in order; payload
// is the encoded batch (none when it cannot be encoded).
//
// The bundles are changed in place. Pure otherwise; any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "measurement/engine/APMIdentityValues.h"
#include "measurement/messages/APMPBMessage.h"
#include "platform/values/Value.h"

struct APMUploadBatch {
  std::vector<int64_t> rowIDs;
  std::optional<platform::Bytes> payload;
};

APMUploadBatch APMComposeUploadBatch(
    const std::vector<std::pair<std::shared_ptr<APMPBMeasurementBundle>, int64_t>>& compatibleBundles,
    int64_t uploadMilliseconds, int64_t libraryVersion, const std::vector<std::string>& dataControls, bool checksum,
    APMIdentityValues* identity, const std::optional<std::string>& subdomain);
