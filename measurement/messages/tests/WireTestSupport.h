// Small helpers of the wire-message tests: hex text, wire pieces, and a
// structural dump of an instance for comparisons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measurement/messages/APMPBMessageType.h"

namespace wiretest {

std::vector<uint8_t> fromHex(const std::string& hex);
std::string toHex(const std::vector<uint8_t>& bytes);
void appendVarint(std::vector<uint8_t>& out, uint64_t value);
// Tag and length of a length-delimited field.
void appendLengthPrefix(std::vector<uint8_t>& out, uint32_t tag, size_t length);

// Every slot of an instance, recursively, as text.
std::string dump(const APMPBMessageInfo* info);

// Encodes with the type's routine; "error" text marker on failure.
std::vector<uint8_t> encode(const APMPBMessageInfo* info, bool* ok = nullptr);

}  // namespace wiretest
