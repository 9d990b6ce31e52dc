#include "platform/time/TimeZone.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/time/Calendar.h"
#include "platform/time/Clock.h"

namespace platform {

namespace {

// Shape of an IANA zone name: "UTC", "Europe/Berlin", "America/Argentina/Buenos_Aires",
// "Etc/GMT+5". Rejects empty text, absolute or parent paths and odd characters.
bool looksLikeZoneName(const std::string& name) {
  if (name.empty() || name.size() > 128 || name.front() == '/' || name.back() == '/') return false;
  if (!std::isalpha(static_cast<unsigned char>(name.front()))) return false;
  if (name.find("..") != std::string::npos || name.find("//") != std::string::npos) return false;
  for (char ch : name) {
    const bool ok = std::isalnum(static_cast<unsigned char>(ch)) || ch == '/' || ch == '_' || ch == '-' ||
                    ch == '+';
    if (!ok) return false;
  }
  return true;
}

// The part of a path after the last "zoneinfo/" folder ("posix/" and "right/"
// variants stripped), or nothing.
std::optional<std::string> zoneFromPath(const std::string& path) {
  const std::string marker = "zoneinfo/";
  const auto at = path.rfind(marker);
  if (at == std::string::npos) return std::nullopt;
  std::string name = path.substr(at + marker.size());
  for (const char* prefix : {"posix/", "right/"}) {
    if (name.rfind(prefix, 0) == 0) name = name.substr(std::string(prefix).size());
  }
  if (!looksLikeZoneName(name)) return std::nullopt;
  return name;
}

bool hasDigit(const std::string& text) {
  for (char ch : text) {
    if (std::isdigit(static_cast<unsigned char>(ch))) return true;
  }
  return false;
}

std::optional<std::string> zoneFromTz(const std::string& raw, const std::string& zoneinfoDir) {
  std::string value = raw;
  if (!value.empty() && value.front() == ':') value.erase(0, 1);
  if (value.empty()) return std::nullopt;
  if (value.front() == '/') return zoneFromPath(value);
  if (!looksLikeZoneName(value)) return std::nullopt;
  std::error_code ec;
  if (std::filesystem::is_regular_file(std::filesystem::path(zoneinfoDir) / value, ec)) return value;
  // Without the zone database installed, accept names that cannot be POSIX
  // rules (a rule always carries an offset digit, "EST5EDT").
  if (!hasDigit(value)) return value;
  return std::nullopt;
}

std::optional<std::string> zoneFromNameFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  const auto first = line.find_first_not_of(" \t\r");
  const auto last = line.find_last_not_of(" \t\r");
  if (first == std::string::npos) return std::nullopt;
  line = line.substr(first, last - first + 1);
  if (!looksLikeZoneName(line)) return std::nullopt;
  return line;
}

std::optional<std::string> zoneFromLink(const std::string& link) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(link, ec)) return std::nullopt;
  const auto target = std::filesystem::read_symlink(link, ec);
  if (ec) return std::nullopt;
  return zoneFromPath(target.string());
}

}  // namespace

TimeZoneSources TimeZoneSources::system() {
  TimeZoneSources sources;
  if (const char* tz = std::getenv("TZ")) sources.tz = std::string(tz);
  return sources;
}

int64_t TimeZone::gmtOffset(double timestamp) {
  const auto components = Calendar::localComponents(timestamp);
  return components ? components->gmtOffset : 0;
}

int64_t TimeZone::currentGmtOffset() { return gmtOffset(Clock::current()->now()); }

int32_t TimeZone::currentGmtOffsetMinutes() { return static_cast<int32_t>(currentGmtOffset() / 60); }

std::string TimeZone::name() { return name(TimeZoneSources::system()); }

std::string TimeZone::name(const TimeZoneSources& sources) {
  if (sources.tz) {
    if (auto zone = zoneFromTz(*sources.tz, sources.zoneinfoDir)) return *zone;
  }
  if (auto zone = zoneFromNameFile(sources.timezoneFile)) return *zone;
  if (auto zone = zoneFromLink(sources.localtimeLink)) return *zone;
  return "UTC";
}

}  // namespace platform
