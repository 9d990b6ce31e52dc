#include "Tavix_YouTube/engine/DownloadStatus.h"

#include "Tavix_YouTube/engine/internal/AppBundle.h"

namespace tavix {

namespace {
struct Names {
  std::string_view caseName;
  std::string_view key;
};
constexpr std::array<Names, 6> kNames{{{"queued", "status.queued"},
                                       {"downloading", "status.downloading"},
                                       {"paused", "status.paused"},
                                       {"completed", "status.completed"},
                                       {"failed", "status.failed"},
                                       {"cancelled", "status.cancelled"}}};
}  // namespace

const std::array<DownloadStatus, 6>& DownloadStatus::allCases() {
  static const std::array<DownloadStatus, 6> cases{queued, downloading, paused, completed, failed, cancelled};
  return cases;
}

std::optional<DownloadStatus> DownloadStatus::fromRawValue(std::string_view rawValue) {
  for (const DownloadStatus& status : allCases()) {
    if (status.caseName() == rawValue) return status;
  }
  return std::nullopt;
}

std::string_view DownloadStatus::caseName() const { return kNames[static_cast<size_t>(m_case)].caseName; }
std::string_view DownloadStatus::localizationKey() const { return kNames[static_cast<size_t>(m_case)].key; }
std::string DownloadStatus::localizedName() const { return engine_internal::localizedString(localizationKey()); }

}  // namespace tavix
