// Quality: the download quality of one item (MP3 audio, 360p, 480p, 720p,
// 1080p, best).
//
// The display name (localizedName) is looked up in the bundle's strings table
// on every use ("quality.mp3", "quality.360p", ...; the key itself when the
// table has no entry). rawValue() is that display name. Equality and hashing
// go through the display name, so the strings table must keep the six names
// distinct. fromRawValue() accepts only the case names ("mp3", "p360", ...),
// never display names.
//
// Thread safety: a plain value; look-ups read the strings table, which is
// safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tavix {

class Quality {
 public:
  enum class Case : uint8_t { mp3, p360, p480, p720, p1080, best };

  static const Quality mp3;
  static const Quality p360;
  static const Quality p480;
  static const Quality p720;
  static const Quality p1080;
  static const Quality best;

  constexpr explicit Quality(Case value) : m_case(value) {}

  static const std::array<Quality, 6>& allCases();
  // Accepts the case names only ("mp3", "p360", "p480", "p720", "p1080", "best").
  static std::optional<Quality> fromRawValue(std::string_view rawValue);

  constexpr Case caseValue() const { return m_case; }
  // "mp3", "p360", ...
  std::string_view caseName() const;
  // "quality.mp3", "quality.360p", ...
  std::string_view localizationKey() const;
  std::string localizedName() const;
  std::string rawValue() const { return localizedName(); }

  friend bool operator==(const Quality& a, const Quality& b) { return a.localizedName() == b.localizedName(); }

 private:
  Case m_case;
};

inline constexpr Quality Quality::mp3{Quality::Case::mp3};
inline constexpr Quality Quality::p360{Quality::Case::p360};
inline constexpr Quality Quality::p480{Quality::Case::p480};
inline constexpr Quality Quality::p720{Quality::Case::p720};
inline constexpr Quality Quality::p1080{Quality::Case::p1080};
inline constexpr Quality Quality::best{Quality::Case::best};

}  // namespace tavix

template <>
struct std::hash<tavix::Quality> {
  size_t operator()(const tavix::Quality& quality) const { return std::hash<std::string>()(quality.localizedName()); }
};
