// ZDTCORNanopbBuilder: fills the heap fields (bytes and repeated fields) of
// nanopb messages built with PB_ENABLE_MALLOC, and encodes them.
//
// The library counts lengths and repeated fields in 16 bits: a longer field
// is refused and remembered as the builder's failure, so that the caller
// encodes nothing rather than a cut message. Everything handed out is freed
// by pb_release of the message it was stored in.
//
// Thread safety: one builder per thread; encodeMessage is stateless.
//
//   NanopbBuilder builder;
//   message.field = builder.bytes(data, "field");
//   NanopbEncoding encoding = encodeAndRelease(builder, Message_fields, &message);
#pragma once

#include <pb.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/values/Value.h"

namespace zdtcor_internal {

class NanopbBuilder {
 public:
  // A heap copy for a bytes field; nullptr (and the failure) over the limit.
  pb_bytes_array_t* bytes(const uint8_t* data, size_t size, const char* what) {
    if (size > PB_SIZE_MAX) {
      fail(std::string(what) + " of " + std::to_string(size) + " bytes is over the 65535-byte limit");
      return nullptr;
    }
    auto* array = static_cast<pb_bytes_array_t*>(std::malloc(PB_BYTES_ARRAY_T_ALLOCSIZE(size)));
    if (array == nullptr) {
      fail("out of memory");
      return nullptr;
    }
    array->size = static_cast<pb_size_t>(size);
    if (size > 0) std::memcpy(array->bytes, data, size);
    return array;
  }
  pb_bytes_array_t* bytes(const std::string& text, const char* what) {
    return bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), what);
  }
  pb_bytes_array_t* bytes(const platform::Bytes& data, const char* what) {
    return bytes(data.data(), data.size(), what);
  }

  // A zeroed heap array of `count` elements for a repeated field, its count
  // stored; nullptr for none, and (with the failure) over the limit.
  template <typename T>
  T* array(size_t count, pb_size_t* countField, const char* what) {
    if (count > PB_SIZE_MAX) {
      fail(std::string(what) + ": " + std::to_string(count) + " entries are over the 65535-entry limit");
      return nullptr;
    }
    if (count == 0) return nullptr;
    auto* items = static_cast<T*>(std::calloc(count, sizeof(T)));
    if (items == nullptr) {
      fail("out of memory");
      return nullptr;
    }
    *countField = static_cast<pb_size_t>(count);
    return items;
  }

  void fail(std::string message) {
    if (!m_failure) m_failure = std::move(message);
  }
  const std::optional<std::string>& failure() const { return m_failure; }

 private:
  std::optional<std::string> m_failure;
};

// The encoding of a filled message, or the stage that failed ("size" or
// "bytes") and nanopb's message ("" when it gave none).
struct NanopbEncoding {
  std::optional<platform::Bytes> bytes;
  std::string failedStage;
  std::string message;
};

inline NanopbEncoding encodeMessage(const pb_msgdesc_t* fields, const void* message) {
  NanopbEncoding result;
  size_t size = 0;
  if (!pb_get_encoded_size(&size, fields, message)) {
    result.failedStage = "size";
    return result;
  }
  platform::Bytes bytes(size);
  pb_ostream_t stream = pb_ostream_from_buffer(bytes.data(), bytes.size());
  if (!pb_encode(&stream, fields, message)) {
    result.failedStage = "bytes";
    const char* error = PB_GET_ERROR(&stream);
    result.message = error ? error : "";
    return result;
  }
  bytes.resize(stream.bytes_written);
  result.bytes = std::move(bytes);
  return result;
}

// Encodes a message the builder filled, unless filling it failed (stage
// "size" with the builder's failure), and then releases what it holds.
inline NanopbEncoding encodeAndRelease(const NanopbBuilder& builder, const pb_msgdesc_t* fields, void* message) {
  NanopbEncoding result;
  if (builder.failure()) {
    result.failedStage = "size";
    result.message = *builder.failure();
  } else {
    result = encodeMessage(fields, message);
  }
  pb_release(fields, message);
  return result;
}

}  // namespace zdtcor_internal
