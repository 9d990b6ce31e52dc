#include "measurement/messages/tests/WireTestSupport.h"

#include "platform/crypto/Digest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace wiretest {

std::vector<uint8_t> fromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t index = 0; index + 1 < hex.size(); index += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(index, 2), nullptr, 16)));
  }
  return bytes;
}

std::string toHex(const std::vector<uint8_t>& bytes) { return platform::Digest::hex(bytes); }

void appendVarint(std::vector<uint8_t>& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

void appendLengthPrefix(std::vector<uint8_t>& out, uint32_t tag, size_t length) {
  appendVarint(out, (uint64_t(tag) << 3) | 2);
  appendVarint(out, length);
}

namespace {

std::string cellText(APMPBFieldFlags flags, const void* cell) {
  if (cell == nullptr) return "NULL";
  if (flags & kAPMPBFieldMessage) return "{" + dump(static_cast<const APMPBMessageInfo*>(cell)) + "}";
  if (flags & (kAPMPBFieldString | kAPMPBFieldBytes)) {
    const auto* bytes = static_cast<const APMPBBytesCell*>(cell);
    if (bytes->bytes == nullptr) return "<no bytes>";
    return "\"" + std::string(reinterpret_cast<const char*>(bytes->bytes), bytes->length) + "\"";
  }
  const auto* value = static_cast<const APMPBValueCell*>(cell);
  if (flags & kAPMPBFieldFloat) return std::to_string(value->f);
  if (flags & kAPMPBFieldDouble) return std::to_string(value->d);
  return std::to_string(value->u64);
}

}  // namespace

std::string dump(const APMPBMessageInfo* info) {
  std::string text = std::string(info->name) + ":";
  for (uint32_t slot = 0; slot < info->slotCount; ++slot) {
    const APMPBFieldFlags flags = info->flags[slot];
    const void* value = info->slots[slot];
    if (flags & kAPMPBFieldRepeated) {
      const auto* record = static_cast<const APMPBRepeatedField*>(value);
      if (record->count == 0) continue;
      text += " " + std::to_string(slot) + "=[";
      for (uint32_t index = 0; index < record->count; ++index) {
        text += (index ? "," : "") + cellText(flags, record->items[index]);
      }
      text += "]";
    } else if (value != nullptr) {
      text += " " + std::to_string(slot) + "=" + cellText(flags, value);
    }
  }
  return text;
}

std::vector<uint8_t> encode(const APMPBMessageInfo* info, bool* ok) {
  uint8_t* buffer = nullptr;
  const int32_t length = info->type->encode(info, &buffer);
  if (ok != nullptr) *ok = length >= 0;
  if (length < 0) return {};
  std::vector<uint8_t> bytes(buffer, buffer + length);
  std::free(buffer);
  return bytes;
}

}  // namespace wiretest
