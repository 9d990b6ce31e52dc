#include "platform/storage/internal/PlistGuard.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace platform::storage_internal {

namespace {

uint64_t readBE(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) {
    v = (v << 8) | p[i];
  }
  return v;
}

}  // namespace

std::optional<std::string> checkBinaryPlist(const uint8_t* data, size_t size, size_t maxDepth, uint64_t maxObjects) {
  if (size < 8 + 32 || std::memcmp(data, "bplist0", 7) != 0) {
    return "not a binary property list";
  }
  const uint8_t* trailer = data + size - 32;
  const size_t offsetSize = trailer[6];
  const size_t refSize = trailer[7];
  const uint64_t count = readBE(trailer + 8, 8);
  const uint64_t top = readBE(trailer + 16, 8);
  const uint64_t tableOffset = readBE(trailer + 24, 8);
  const uint64_t tableEnd = size - 32;
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 || count > size ||
      top >= count || tableOffset < 8 || tableOffset > tableEnd || (tableEnd - tableOffset) / offsetSize < count) {
    return "damaged binary property list trailer";
  }
  // Reference list of a container object, or an empty range for scalars.
  struct Refs {
    uint64_t start = 0;
    uint64_t count = 0;
  };
  auto refsOf = [&](uint64_t object, Refs& out) -> bool {
    uint64_t pos = readBE(data + tableOffset + object * offsetSize, offsetSize);
    if (pos < 8 || pos >= tableOffset) {
      return false;
    }
    uint8_t marker = data[pos];
    uint8_t kind = marker >> 4;
    const bool container = kind == 0xA || kind == 0xB || kind == 0xC || kind == 0xD;
    const bool text = kind == 0x5 || kind == 0x6;
    if (!container && !text) {
      out = {};
      return true;
    }
    uint64_t n = marker & 0x0F;
    ++pos;
    if (n == 0x0F) {
      if (pos >= tableOffset || (data[pos] >> 4) != 0x1) {
        return false;
      }
      size_t width = size_t{1} << (data[pos] & 0x0F);
      if (width > 8 || pos + 1 + width > tableOffset) {
        return false;
      }
      n = readBE(data + pos + 1, width);
      pos += 1 + width;
    }
    if (text) {
      // libplist's string getters abort on a string (or key) holding a NUL
      // character, and it drops unpaired UTF-16 surrogates without a word:
      // both are refused here.
      const uint64_t unit = kind == 0x6 ? 2 : 1;
      if (n > (tableOffset - pos) / unit) {
        return false;
      }
      bool highBefore = false;
      for (uint64_t i = 0; i < n; ++i) {
        const uint64_t c = readBE(data + pos + i * unit, unit);
        const bool high = unit == 2 && c >= 0xD800 && c <= 0xDBFF;
        const bool low = unit == 2 && c >= 0xDC00 && c <= 0xDFFF;
        if (c == 0 || low != highBefore) {
          return false;
        }
        highBefore = high;
      }
      if (highBefore) {
        return false;
      }
      out = {};
      return true;
    }
    uint64_t perEntry = kind == 0xD ? 2 : 1;
    if (n > (tableOffset - pos) / refSize / perEntry) {
      return false;
    }
    out.start = pos;
    out.count = n * perEntry;
    return true;
  };

  enum : uint8_t { kUnvisited, kActive, kDone };
  std::vector<uint8_t> state(count, kUnvisited);
  std::vector<uint32_t> height(count, 0);
  // Objects of the tree below each finished object, counting every
  // reference as a copy of what it points at: an object referenced twice
  // by each level of a chain expands to 2^levels leaves when parsed.
  std::vector<uint64_t> expanded(count, 0);
  struct Frame {
    uint64_t object;
    Refs refs;
    uint64_t next;
    uint32_t height;
    uint64_t expanded;
  };
  const char* const tooMany = "property list expands to too many objects";
  std::vector<Frame> stack;
  auto push = [&](uint64_t object) -> std::optional<std::string> {
    Refs refs;
    if (!refsOf(object, refs)) {
      return "damaged binary property list object";
    }
    if (stack.size() + 1 > maxDepth) {
      return "property list nested too deeply";
    }
    state[object] = kActive;
    stack.push_back(Frame{object, refs, 0, 1, 1});
    return std::nullopt;
  };
  if (auto e = push(top)) {
    return e;
  }
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next == f.refs.count) {
      state[f.object] = kDone;
      height[f.object] = f.height;
      expanded[f.object] = f.expanded;
      uint32_t h = f.height;
      uint64_t objects = f.expanded;
      stack.pop_back();
      if (!stack.empty()) {
        if (h + 1 > stack.back().height) {
          stack.back().height = h + 1;
        }
        if ((stack.back().expanded += objects) > maxObjects) {
          return tooMany;
        }
      }
      continue;
    }
    uint64_t child = readBE(data + f.refs.start + f.next * refSize, refSize);
    ++f.next;
    if (child >= count) {
      return "binary property list reference out of range";
    }
    if (state[child] == kActive) {
      return "binary property list contains a cycle";
    }
    if (state[child] == kDone) {
      if (stack.size() + height[child] > maxDepth) {
        return "property list nested too deeply";
      }
      if (height[child] + 1 > f.height) {
        f.height = height[child] + 1;
      }
      // Both sides stay at most maxObjects, so the sum cannot overflow.
      if ((f.expanded += expanded[child]) > maxObjects) {
        return tooMany;
      }
      continue;
    }
    if (auto e = push(child)) {
      return e;
    }
  }
  return std::nullopt;
}

std::optional<std::string> checkXmlPlistDepth(const char* text, size_t size, size_t maxDepth) {
  std::string_view s(text, size);
  size_t depth = 0;
  size_t i = 0;
  auto skipPast = [&](std::string_view end) {
    size_t p = s.find(end, i);
    i = p == std::string_view::npos ? s.size() : p + end.size();
  };
  auto isNameEnd = [&](size_t p) {
    return p >= s.size() || s[p] == '>' || s[p] == '/' || s[p] == ' ' || s[p] == '\t' || s[p] == '\r' ||
           s[p] == '\n';
  };
  while ((i = s.find('<', i)) != std::string_view::npos) {
    std::string_view rest = s.substr(i);
    if (rest.starts_with("<!--")) {
      skipPast("-->");
    } else if (rest.starts_with("<![CDATA[")) {
      skipPast("]]>");
    } else if (rest.starts_with("<?")) {
      skipPast("?>");
    } else if (rest.starts_with("<!")) {
      skipPast(">");
    } else if (rest.starts_with("</")) {
      if ((rest.starts_with("</array") && isNameEnd(i + 7)) || (rest.starts_with("</dict") && isNameEnd(i + 6))) {
        if (depth > 0) {
          --depth;
        }
      }
      skipPast(">");
    } else {
      bool container = (rest.starts_with("<array") && isNameEnd(i + 6)) || (rest.starts_with("<dict") && isNameEnd(i + 5));
      size_t close = s.find('>', i);
      bool selfClosing = close != std::string_view::npos && close > i && s[close - 1] == '/';
      if (container && !selfClosing && ++depth > maxDepth) {
        return "property list nested too deeply";
      }
      i = close == std::string_view::npos ? s.size() : close + 1;
    }
  }
  return std::nullopt;
}

}  // namespace platform::storage_internal
