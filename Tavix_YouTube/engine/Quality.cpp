#include "Tavix_YouTube/engine/Quality.h"

#include "Tavix_YouTube/engine/internal/AppBundle.h"

namespace tavix {

namespace {
struct Names {
  std::string_view caseName;
  std::string_view key;
};
constexpr std::array<Names, 6> kNames{{{"mp3", "quality.mp3"},
                                       {"p360", "quality.360p"},
                                       {"p480", "quality.480p"},
                                       {"p720", "quality.720p"},
                                       {"p1080", "quality.1080p"},
                                       {"best", "quality.best"}}};
}  // namespace

const std::array<Quality, 6>& Quality::allCases() {
  static const std::array<Quality, 6> cases{mp3, p360, p480, p720, p1080, best};
  return cases;
}

std::optional<Quality> Quality::fromRawValue(std::string_view rawValue) {
  for (const Quality& quality : allCases()) {
    if (quality.caseName() == rawValue) return quality;
  }
  return std::nullopt;
}

std::string_view Quality::caseName() const { return kNames[static_cast<size_t>(m_case)].caseName; }
std::string_view Quality::localizationKey() const { return kNames[static_cast<size_t>(m_case)].key; }
std::string Quality::localizedName() const { return engine_internal::localizedString(localizationKey()); }

}  // namespace tavix
