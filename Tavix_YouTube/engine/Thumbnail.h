// Thumbnail: a preview picture of a video, kept as its encoded bytes (PNG,
// JPEG, GIF, WebP or BMP, recognised by signature). The view decodes it.
//
// Thread safety: immutable once made; copies share the bytes.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/values/Value.h"

namespace tavix {

class Thumbnail {
 public:
  // None when the bytes are not one of the known image formats.
  static std::optional<Thumbnail> fromData(platform::Bytes data);

  const platform::Bytes& data() const { return *m_data; }
  // "png", "jpeg", "gif", "webp" or "bmp".
  const std::string& format() const { return m_format; }

  bool operator==(const Thumbnail& other) const { return m_data == other.m_data; }

 private:
  Thumbnail(std::shared_ptr<const platform::Bytes> data, std::string format)
      : m_data(std::move(data)), m_format(std::move(format)) {}
  std::shared_ptr<const platform::Bytes> m_data;
  std::string m_format;
};

}  // namespace tavix
