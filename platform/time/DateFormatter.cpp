#include "platform/time/DateFormatter.h"

#include <array>
#include <cctype>
#include <cmath>
#include <stdexcept>

#include "platform/time/Calendar.h"
#include "platform/time/Clock.h"

namespace platform {

namespace {

constexpr std::array<const char*, 12> kMonths = {"January", "February", "March",     "April",   "May",      "June",
                                                 "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kWeekdays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};

bool isSupportedLetter(char c) {
  switch (c) {
    case 'y': case 'M': case 'd': case 'H': case 'h': case 'm':
    case 's': case 'S': case 'Z': case 'a': case 'E':
      return true;
    default:
      return false;
  }
}

bool isNumericField(char letter, int count) {
  switch (letter) {
    case 'y': case 'd': case 'H': case 'h': case 'm': case 's': case 'S':
      return true;
    case 'M':
      return count <= 2;
    default:
      return false;
  }
}

std::string padded(int64_t value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

std::string formatOffset(int64_t offset, int count) {
  if (count == 5 && offset == 0) return "Z";
  if (count == 4 && offset == 0) return "GMT";
  const char sign = offset < 0 ? '-' : '+';
  const int64_t magnitude = offset < 0 ? -offset : offset;
  const std::string hours = padded(magnitude / 3600, 2);
  const std::string minutes = padded(magnitude / 60 % 60, 2);
  if (count == 5) return sign + hours + ":" + minutes;
  if (count == 4) return std::string("GMT") + sign + hours + ":" + minutes;
  return sign + hours + minutes;
}

// A cursor over the text being parsed.
struct Reader {
  std::string_view text;
  size_t pos = 0;

  bool atEnd() const { return pos >= text.size(); }
  bool consume(std::string_view literal) {
    if (text.substr(pos, literal.size()) != literal) return false;
    pos += literal.size();
    return true;
  }
  bool consumeNoCase(std::string_view word) {
    if (text.size() - pos < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(text[pos + i])) != std::tolower(static_cast<unsigned char>(word[i]))) {
        return false;
      }
    }
    pos += word.size();
    return true;
  }
  // Reads between minDigits and maxDigits ASCII digits; the digit count in `digits`.
  std::optional<int64_t> number(int minDigits, int maxDigits, int* digits = nullptr) {
    int64_t value = 0;
    int n = 0;
    while (n < maxDigits && pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + (text[pos] - '0');
      ++pos;
      ++n;
    }
    if (n < minDigits) return std::nullopt;
    if (digits) *digits = n;
    return value;
  }
};

// Offset text -> seconds east. Exact mode accepts only the form the count formats.
std::optional<int64_t> parseOffset(Reader& in, int count, bool exact) {
  if (exact) {
    if (count == 5 && in.consume("Z")) return 0;
    if (count == 4) {
      if (!in.consume("GMT")) return std::nullopt;
      if (in.atEnd() || (in.text[in.pos] != '+' && in.text[in.pos] != '-')) return 0;
    }
  } else {
    if (in.consume("Z")) return 0;
    if (in.consume("GMT") || in.consume("UTC")) {
      if (in.atEnd() || (in.text[in.pos] != '+' && in.text[in.pos] != '-')) return 0;
    }
  }
  if (in.atEnd()) return std::nullopt;
  const char sign = in.text[in.pos];
  if (sign != '+' && sign != '-') return std::nullopt;
  ++in.pos;
  auto hours = in.number(2, 2);
  if (!hours || *hours > 23) return std::nullopt;
  int64_t minutes = 0;
  const bool wantsColon = count >= 4;
  bool colon = in.consume(":");
  if (exact && colon != wantsColon) return std::nullopt;
  auto mm = in.number(2, 2);
  if (mm) {
    if (*mm > 59) return std::nullopt;
    minutes = *mm;
  } else if (exact || colon) {
    return std::nullopt;
  }
  const int64_t offset = *hours * 3600 + minutes * 60;
  return sign == '-' ? -offset : offset;
}

}  // namespace

DateFormatter::DateFormatter(std::string_view pattern, Zone zone, Strictness strictness)
    : m_pattern(pattern), m_zone(zone), m_strictness(strictness) {
  auto appendLiteral = [&](std::string_view text) {
    if (m_tokens.empty() || m_tokens.back().letter != 0) m_tokens.push_back(Token{});
    m_tokens.back().literal.append(text);
  };
  for (size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    if (std::isalpha(static_cast<unsigned char>(c))) {
      if (!isSupportedLetter(c)) throw std::invalid_argument("unsupported date pattern letter in: " + m_pattern);
      size_t end = i;
      while (end < pattern.size() && pattern[end] == c) ++end;
      m_tokens.push_back(Token{c, static_cast<int>(end - i), {}});
      i = end;
    } else if (c == '\'') {
      if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
        appendLiteral("'");
        i += 2;
        continue;
      }
      std::string text;
      size_t j = i + 1;
      for (;; ++j) {
        if (j >= pattern.size()) throw std::invalid_argument("unterminated quote in date pattern: " + m_pattern);
        if (pattern[j] == '\'') {
          if (j + 1 < pattern.size() && pattern[j + 1] == '\'') {
            text.push_back('\'');
            ++j;
            continue;
          }
          break;
        }
        text.push_back(pattern[j]);
      }
      appendLiteral(text);
      i = j + 1;
    } else {
      appendLiteral(std::string_view(&pattern[i], 1));
      ++i;
    }
  }
}

std::string DateFormatter::format(double timestamp) const {
  std::optional<CalendarComponents> found;
  switch (m_zone.kind) {
    case Zone::Kind::Utc: found = Calendar::utcComponents(timestamp); break;
    case Zone::Kind::Fixed: found = Calendar::componentsAtOffset(timestamp, m_zone.offset); break;
    case Zone::Kind::Local: found = Calendar::localComponents(timestamp); break;
  }
  if (!found) return {};
  const CalendarComponents& c = *found;
  std::string out;
  for (const Token& token : m_tokens) {
    const int n = token.count;
    switch (token.letter) {
      case 0: out += token.literal; break;
      case 'y': out += n == 2 ? padded((c.year % 100 + 100) % 100, 2) : padded(c.year, n); break;
      case 'M':
        if (n <= 2) out += padded(c.month, n);
        else if (n == 3) out += std::string(kMonths[c.month - 1]).substr(0, 3);
        else if (n == 4) out += kMonths[c.month - 1];
        else out += kMonths[c.month - 1][0];
        break;
      case 'd': out += padded(c.day, n); break;
      case 'H': out += padded(c.hour, n); break;
      case 'h': out += padded(c.hour % 12 == 0 ? 12 : c.hour % 12, n); break;
      case 'a': out += c.hour < 12 ? "AM" : "PM"; break;
      case 'm': out += padded(c.minute, n); break;
      case 's': out += padded(c.second, n); break;
      case 'S': {
        std::string digits = padded(c.microsecond, 6);
        digits.resize(static_cast<size_t>(n), '0');
        out += digits;
        break;
      }
      case 'E':
        if (n <= 3) out += std::string(kWeekdays[c.weekday]).substr(0, 3);
        else if (n == 4) out += kWeekdays[c.weekday];
        else out += kWeekdays[c.weekday][0];
        break;
      case 'Z': out += formatOffset(c.gmtOffset, n); break;
    }
  }
  return out;
}

std::optional<double> DateFormatter::parse(std::string_view text) const {
  const bool exact = m_strictness == Strictness::Exact;
  Reader in{text};
  CalendarComponents c;
  std::optional<int64_t> offset;
  std::optional<int> hour12;
  std::optional<bool> pm;
  bool twoDigitYear = false;
  for (size_t t = 0; t < m_tokens.size(); ++t) {
    const Token& token = m_tokens[t];
    const int n = token.count;
    if (token.letter == 0) {
      if (!in.consume(token.literal)) return std::nullopt;
      continue;
    }
    if (isNumericField(token.letter, n)) {
      const bool adjacent = t + 1 < m_tokens.size() && m_tokens[t + 1].letter != 0 &&
                            isNumericField(m_tokens[t + 1].letter, m_tokens[t + 1].count);
      int minDigits = 1;
      int maxDigits = token.letter == 'y' || token.letter == 'S' ? 9 : std::max(n, 2);
      if (token.letter == 'y' && n == 2) minDigits = maxDigits = 2;
      if (adjacent) minDigits = maxDigits = n;
      if (exact) {
        minDigits = n;
        if (token.letter != 'y' || adjacent) maxDigits = n;
      }
      int digits = 0;
      auto value = in.number(minDigits, maxDigits, &digits);
      if (!value) return std::nullopt;
      switch (token.letter) {
        case 'y':
          c.year = *value;
          twoDigitYear = n == 2;
          break;
        case 'M': c.month = static_cast<int>(*value); break;
        case 'd': c.day = static_cast<int>(*value); break;
        case 'H': c.hour = static_cast<int>(*value); break;
        case 'h': hour12 = static_cast<int>(*value); break;
        case 'm': c.minute = static_cast<int>(*value); break;
        case 's': c.second = static_cast<int>(*value); break;
        case 'S': {
          int64_t micros = *value;
          for (int i = digits; i < 6; ++i) micros *= 10;
          for (int i = digits; i > 6; --i) micros /= 10;
          c.microsecond = static_cast<int>(micros);
          break;
        }
      }
      continue;
    }
    switch (token.letter) {
      case 'M': {
        bool matched = false;
        for (int m = 0; m < 12 && !matched; ++m) {
          const std::string name = n == 3 ? std::string(kMonths[m]).substr(0, 3) : kMonths[m];
          if (in.consumeNoCase(name)) {
            c.month = m + 1;
            matched = true;
          }
        }
        if (!matched) return std::nullopt;
        break;
      }
      case 'E': {
        bool matched = false;
        for (int d = 0; d < 7 && !matched; ++d) {
          // Longest form first, so "Monday" is not read as "Mon" + "day".
          if ((n == 4 || !exact) && in.consumeNoCase(kWeekdays[d])) matched = true;
          else if (n <= 3 && in.consumeNoCase(std::string(kWeekdays[d]).substr(0, 3))) matched = true;
        }
        if (!matched) return std::nullopt;
        break;
      }
      case 'a':
        if (in.consumeNoCase("AM")) pm = false;
        else if (in.consumeNoCase("PM")) pm = true;
        else return std::nullopt;
        break;
      case 'Z':
        offset = parseOffset(in, n, exact);
        if (!offset) return std::nullopt;
        break;
    }
  }
  if (!in.atEnd()) return std::nullopt;
  if (twoDigitYear) {
    // The century that puts the year within 80 years before and 20 after now.
    auto now = Calendar::utcComponents(Clock::current()->now());
    const int64_t thisYear = now ? now->year : 2000;
    int64_t year = thisYear - thisYear % 100 + c.year;
    if (year > thisYear + 20) year -= 100;
    else if (year <= thisYear - 80) year += 100;
    c.year = year;
  }
  if (hour12) {
    if (*hour12 < 1 || *hour12 > 12) return std::nullopt;
    c.hour = *hour12 % 12 + (pm.value_or(false) ? 12 : 0);
  } else if (pm) {
    if (c.hour > 12) return std::nullopt;
    if (*pm && c.hour < 12) c.hour += 12;
  }
  if (offset) return Calendar::timestampAtOffset(c, *offset);
  switch (m_zone.kind) {
    case Zone::Kind::Utc: return Calendar::utcTimestamp(c);
    case Zone::Kind::Fixed: return Calendar::timestampAtOffset(c, m_zone.offset);
    case Zone::Kind::Local: return Calendar::localTimestamp(c);
  }
  return std::nullopt;
}

}  // namespace platform
