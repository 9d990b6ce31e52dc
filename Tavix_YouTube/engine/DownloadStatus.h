// DownloadStatus: the state of one download item (queued, downloading,
// paused, completed, failed, cancelled).
//
// The display name (localizedName) is looked up in the bundle's strings table
// on every use ("status.queued", ...; the key itself when the table has no
// entry). rawValue() is that display name. Equality and hashing go through
// the display name, so the strings table must keep the six names distinct.
// fromRawValue() accepts only the case names ("queued", ...).
//
// Thread safety: a plain value; look-ups are safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tavix {

class DownloadStatus {
 public:
  enum class Case : uint8_t { queued, downloading, paused, completed, failed, cancelled };

  static const DownloadStatus queued;
  static const DownloadStatus downloading;
  static const DownloadStatus paused;
  static const DownloadStatus completed;
  static const DownloadStatus failed;
  static const DownloadStatus cancelled;

  constexpr explicit DownloadStatus(Case value) : m_case(value) {}

  static const std::array<DownloadStatus, 6>& allCases();
  static std::optional<DownloadStatus> fromRawValue(std::string_view rawValue);

  constexpr Case caseValue() const { return m_case; }
  std::string_view caseName() const;
  std::string_view localizationKey() const;
  std::string localizedName() const;
  std::string rawValue() const { return localizedName(); }

  friend bool operator==(const DownloadStatus& a, const DownloadStatus& b) {
    return a.localizedName() == b.localizedName();
  }

 private:
  Case m_case;
};

inline constexpr DownloadStatus DownloadStatus::queued{DownloadStatus::Case::queued};
inline constexpr DownloadStatus DownloadStatus::downloading{DownloadStatus::Case::downloading};
inline constexpr DownloadStatus DownloadStatus::paused{DownloadStatus::Case::paused};
inline constexpr DownloadStatus DownloadStatus::completed{DownloadStatus::Case::completed};
inline constexpr DownloadStatus DownloadStatus::failed{DownloadStatus::Case::failed};
inline constexpr DownloadStatus DownloadStatus::cancelled{DownloadStatus::Case::cancelled};

}  // namespace tavix

template <>
struct std::hash<tavix::DownloadStatus> {
  size_t operator()(const tavix::DownloadStatus& status) const {
    return std::hash<std::string>()(status.localizedName());
  }
};
