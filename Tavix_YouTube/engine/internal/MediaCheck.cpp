#include "Tavix_YouTube/engine/internal/MediaCheck.h"

#include <algorithm>
#include <cmath>

#include "platform/text/NumberText.h"

namespace tavix::engine_internal {

namespace {

// Longest duration taken for real: a week (a bigger number is nonsense).
constexpr double kMaxSeconds = 7 * 24 * 3600.0;

std::optional<double> seconds(std::string_view text) {
  std::optional<double> value = platform::NumberText::parseDouble(text);
  if (!value || !std::isfinite(*value) || std::fabs(*value) > kMaxSeconds) return std::nullopt;
  return value;
}

// The value of `key` ("name=") among the "|"-separated fields of `text`.
std::optional<std::string_view> field(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    const size_t bar = text.find('|');
    const std::string_view part = text.substr(0, bar);
    if (part.substr(0, key.size()) == key) return part.substr(key.size());
    if (bar == std::string_view::npos) break;
    text.remove_prefix(bar + 1);
  }
  return std::nullopt;
}

// "M:SS", or "H:MM:SS" from an hour on.
std::string clock(double value) {
  const auto total = static_cast<long long>(std::floor(std::max(0.0, value)));
  const long long hours = total / 3600;
  const long long minutes = total / 60 % 60;
  const long long secs = total % 60;
  auto two = [](long long n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  return hours > 0 ? std::to_string(hours) + ":" + two(minutes) + ":" + two(secs)
                   : std::to_string(minutes) + ":" + two(secs);
}

}  // namespace

std::vector<std::string> mediaCheckArguments(const std::string& path) {
  return {"-v", "error", "-show_entries", "packet=pts_time,duration_time:format=duration", "-of", "compact",
          "-i", "file:" + path};
}

void PacketListing::feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, end);
    if (!m_skipping) {
      if (m_partial.size() + piece.size() > kMaxLineBytes) {
        m_skipping = true;
        m_partial.clear();
      } else {
        m_partial.append(piece);
      }
    }
    if (end == std::string_view::npos) return;
    if (!m_skipping) line(m_partial);
    m_partial.clear();
    m_skipping = false;
    bytes.remove_prefix(end + 1);
  }
}

void PacketListing::finish() {
  if (!m_skipping && !m_partial.empty()) line(m_partial);
  m_partial.clear();
  m_skipping = false;
}

void PacketListing::line(std::string_view text) {
  if (text.substr(0, 7) == "packet|") {
    std::optional<std::string_view> time = field(text, "pts_time=");
    std::optional<double> start = time ? seconds(*time) : std::nullopt;
    if (!start) return;
    std::optional<std::string_view> length = field(text, "duration_time=");
    std::optional<double> duration = length ? seconds(*length) : std::nullopt;
    const double end = *start + std::max(0.0, duration.value_or(0));
    ++m_packets;
    m_start = std::min(m_start.value_or(*start), *start);
    m_end = std::max(m_end.value_or(end), end);
  } else if (text.substr(0, 7) == "format|") {
    std::optional<std::string_view> duration = field(text, "duration=");
    if (std::optional<double> value = duration ? seconds(*duration) : std::nullopt; value && *value > 0) {
      m_header = value;
    }
  }
}

std::optional<double> PacketListing::coveredSeconds() const {
  if (!m_start || !m_end) return std::nullopt;
  return *m_end - *m_start;
}

std::optional<double> reportedDuration(std::string_view line) {
  if (line.substr(0, kDurationLinePrefix.size()) != kDurationLinePrefix) return std::nullopt;
  line.remove_prefix(kDurationLinePrefix.size());
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
  std::optional<double> value = seconds(line);
  if (!value || *value <= 0) return std::nullopt;
  return value;
}

std::optional<std::string> mediaCheckFailure(int toolStatus, const PacketListing& listing,
                                             std::optional<double> reportedSeconds) {
  if (toolStatus != 0 || listing.packetCount() == 0) return std::string("Downloaded file is damaged or missing");
  const std::optional<double> expected = reportedSeconds ? reportedSeconds : listing.headerSeconds();
  const double covered = listing.coveredSeconds().value_or(0);
  if (expected && covered + kToleranceSeconds < *expected) {
    return "Download incomplete - " + clock(covered) + " of " + clock(*expected) + " received";
  }
  return std::nullopt;
}

}  // namespace tavix::engine_internal
