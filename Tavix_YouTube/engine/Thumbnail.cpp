#include "Tavix_YouTube/engine/Thumbnail.h"

#include <cstring>

namespace tavix {

namespace {
bool startsWith(const platform::Bytes& data, size_t offset, const char* signature, size_t length) {
  return data.size() >= offset + length && std::memcmp(data.data() + offset, signature, length) == 0;
}
}  // namespace

std::optional<Thumbnail> Thumbnail::fromData(platform::Bytes data) {
  std::string format;
  if (startsWith(data, 0, "\x89PNG\r\n\x1a\n", 8)) {
    format = "png";
  } else if (startsWith(data, 0, "\xFF\xD8\xFF", 3)) {
    format = "jpeg";
  } else if (startsWith(data, 0, "GIF87a", 6) || startsWith(data, 0, "GIF89a", 6)) {
    format = "gif";
  } else if (startsWith(data, 0, "RIFF", 4) && startsWith(data, 8, "WEBP", 4)) {
    format = "webp";
  } else if (startsWith(data, 0, "BM", 2) && data.size() > 26) {
    format = "bmp";
  } else {
    return std::nullopt;
  }
  return Thumbnail(std::make_shared<const platform::Bytes>(std::move(data)), std::move(format));
}

}  // namespace tavix
