// Regular expressions from outside (configuration, scripts) run over outside
// text. Input: one flags byte, the pattern up to the first line feed, then
// the text. A bad pattern is an error, a runaway match ends at the work
// limit with an error; every match lies inside the text and its captures
// are the text's own UTF-16 ranges.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/text/Regex.h"
#include "platform/text/Unicode.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::Regex;
using platform::Unicode;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  platform::RegexOptions options;
  options.caseInsensitive = (data[0] & 1) != 0;
  options.multiline = (data[0] & 2) != 0;
  options.dotAll = (data[0] & 4) != 0;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t split = rest.find('\n');
  std::string_view pattern = rest.substr(0, split);
  std::string_view text = split == std::string_view::npos ? std::string_view() : rest.substr(split + 1);

  auto regex = Regex::compile(pattern, options);
  if (!regex) {
    FUZZ_CHECK(regex.error().domain == Regex::kErrorDomain && regex.error().code == Regex::kInvalidPattern);
    return 0;
  }
  auto limitOrFailure = [](const platform::Error& error) {
    return error.domain == Regex::kErrorDomain &&
           (error.code == Regex::kLimitExceeded || error.code == Regex::kMatchFailed);
  };
  const size_t length = Unicode::utf16Length(text);
  auto all = regex->allMatches(text);
  if (!all) {
    FUZZ_CHECK(limitOrFailure(all.error()));
    return 0;
  }
  for (const auto& match : *all) {
    FUZZ_CHECK(!match.captures.empty() && match.captures[0].has_value());
    FUZZ_CHECK(match.captures.size() == regex->groupCount() + 1);
    for (const auto& capture : match.captures) {
      if (!capture) continue;
      FUZZ_CHECK(capture->location <= length && capture->length <= length - capture->location);
      if (Unicode::isValidUtf8(text)) {
        auto own = Unicode::substringForUtf16Range(text, capture->location, capture->length);
        FUZZ_CHECK(!own || *own == capture->text);
      }
    }
  }
  auto first = regex->firstMatch(text);
  if (first) {
    FUZZ_CHECK(first->has_value() == !all->empty());
    FUZZ_CHECK(!first->has_value() || (*first)->captures == all->front().captures);
  }
  auto found = regex->search(text);
  FUZZ_CHECK(!found || *found == !all->empty());
  regex->matchesWhole(text);
  return 0;
}
