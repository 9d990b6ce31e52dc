#include "platform/net/HttpResponse.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace platform {

namespace {

std::string trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecode(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      int h = hexValue(s[i + 1]), l = hexValue(s[i + 2]);
      if (h >= 0 && l >= 0) {
        out.push_back(static_cast<char>(h * 16 + l));
        i += 2;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

// Splits "a; b=c; d=\"e;f\"" into parameters, honouring quoted strings.
std::vector<std::string> splitParameters(std::string_view s) {
  std::vector<std::string> parts;
  std::string current;
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (quoted && c == '\\' && i + 1 < s.size()) {
      current.push_back(c);
      current.push_back(s[++i]);
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) {
      parts.push_back(trim(current));
      current.clear();
      continue;
    }
    current.push_back(c);
  }
  parts.push_back(trim(current));
  return parts;
}

std::string unquote(std::string_view v) {
  std::string s = trim(v);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
    std::string out;
    for (size_t i = 1; i + 1 < s.size(); ++i) {
      if (s[i] == '\\' && i + 2 < s.size()) ++i;
      out.push_back(s[i]);
    }
    return out;
  }
  return s;
}

// Keeps only the last path component and refuses names that would address
// something other than a plain file.
std::string safeFileName(std::string name) {
  auto slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  std::string out;
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) out.push_back(c);
  }
  if (out == "." || out == "..") return {};
  return out;
}

std::optional<std::string> parameter(const std::optional<std::string>& header,
                                     std::string_view name) {
  if (!header) return std::nullopt;
  auto parts = splitParameters(*header);
  for (size_t i = 1; i < parts.size(); ++i) {
    auto eq = parts[i].find('=');
    if (eq == std::string::npos) continue;
    if (lower(trim(std::string_view(parts[i]).substr(0, eq))) == name) {
      return unquote(std::string_view(parts[i]).substr(eq + 1));
    }
  }
  return std::nullopt;
}

}  // namespace

std::string HttpResponse::mimeType() const {
  auto type = m_headers.value("Content-Type");
  if (!type) return {};
  auto semi = type->find(';');
  return lower(trim(std::string_view(*type).substr(0, semi)));
}

std::string HttpResponse::textEncodingName() const {
  auto charset = parameter(m_headers.value("Content-Type"), "charset");
  return charset ? lower(*charset) : std::string();
}

int64_t HttpResponse::expectedContentLength() const {
  auto length = m_headers.value("Content-Length");
  if (!length) return -1;
  std::string text = trim(*length);
  int64_t value = -1;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0) return -1;
  return value;
}

std::string HttpResponse::suggestedFilename() const {
  auto disposition = m_headers.value("Content-Disposition");
  // RFC 5987 form first: filename*=UTF-8''name%20with%20spaces
  if (auto extended = parameter(disposition, "filename*")) {
    auto quote = extended->find("''");
    if (quote != std::string::npos) {
      std::string name = safeFileName(percentDecode(extended->substr(quote + 2)));
      if (!name.empty()) return name;
    }
  }
  if (auto plain = parameter(disposition, "filename")) {
    std::string name = safeFileName(*plain);
    if (!name.empty()) return name;
  }
  std::string_view url = m_url;
  auto cut = url.find_first_of("?#");
  if (cut != std::string_view::npos) url = url.substr(0, cut);
  auto scheme = url.find("://");
  if (scheme != std::string_view::npos) {
    auto pathStart = url.find('/', scheme + 3);
    url = pathStart == std::string_view::npos ? std::string_view() : url.substr(pathStart);
  }
  while (!url.empty() && url.back() == '/') url.remove_suffix(1);
  auto slash = url.rfind('/');
  std::string name = safeFileName(percentDecode(slash == std::string_view::npos ? url : url.substr(slash + 1)));
  return name.empty() ? "Unknown" : name;
}

}  // namespace platform
