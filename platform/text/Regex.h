// Regex: regular expressions on ICU, in ICU's dialect (Unicode classes such
// as \p{L} and \p{Nd}, \d \w \s in their Unicode meaning, look-around,
// possessive quantifiers).
//
// compile() never throws: a bad pattern is an Error value (kErrorDomain,
// kInvalidPattern, with ICU's reason and the offset in the description).
// Searches are not anchored unless the pattern says so. Every location and
// length is in UTF-16 code units of the searched text; UTF-8 text is
// converted first (ill-formed bytes become U+FFFD). Captures: index 0 is the
// whole match, index i the i-th group; a group that took no part in the
// match is empty.
//
// Work limits: each match operation runs under ICU's step-counting time limit
// and a backtracking stack limit (RegexOptions::timeLimit/stackLimitBytes),
// so a catastrophic pattern from outside (configuration, scripts) ends with
// kLimitExceeded instead of hanging. The limit counts engine steps, not
// wall time, so the outcome is the same on every machine.
//
// Thread safety: a compiled Regex is immutable and can be shared and used
// from several threads at once; each operation makes its own matcher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/values/Error.h"

namespace platform {

struct RegexOptions {
    bool caseInsensitive = false;
    bool multiline = false;  // "^" and "$" also match at line breaks
    bool dotAll = false;     // "." also matches line breaks
    // ICU time-limit units (each roughly ten thousand engine steps); 0 means none.
    int32_t timeLimit = 1000;
    // Bytes of backtracking stack; 0 means unlimited.
    int32_t stackLimitBytes = 8 * 1024 * 1024;
};

struct RegexCapture {
    size_t location = 0;  // UTF-16 units
    size_t length = 0;    // UTF-16 units
    std::string text;     // UTF-8
    bool operator==(const RegexCapture&) const = default;
};

struct RegexMatch {
    std::vector<std::optional<RegexCapture>> captures;  // [0] is the whole match

    size_t location() const { return captures[0]->location; }
    size_t length() const { return captures[0]->length; }
    const std::string& text() const { return captures[0]->text; }
    // Group i (1-based), empty when it did not take part or does not exist.
    std::optional<RegexCapture> group(size_t i) const {
        return i < captures.size() ? captures[i] : std::nullopt;
    }
};

class Regex {
public:
    static constexpr const char* kErrorDomain = "platform.text.Regex";
    static constexpr int64_t kInvalidPattern = 1;
    static constexpr int64_t kLimitExceeded = 2;
    static constexpr int64_t kMatchFailed = 3;

    static Result<Regex> compile(std::string_view pattern, const RegexOptions& options = {});

    const std::string& pattern() const { return m_pattern; }
    size_t groupCount() const;

    Result<std::optional<RegexMatch>> firstMatch(std::string_view text) const;
    Result<std::optional<RegexMatch>> firstMatch(std::u16string_view text) const;
    Result<std::vector<RegexMatch>> allMatches(std::string_view text) const;
    Result<std::vector<RegexMatch>> allMatches(std::u16string_view text) const;
    // True when some match exists anywhere in the text.
    Result<bool> search(std::string_view text) const;
    Result<bool> search(std::u16string_view text) const;
    // True when the whole text matches.
    Result<bool> matchesWhole(std::string_view text) const;
    Result<bool> matchesWhole(std::u16string_view text) const;

private:
    struct Compiled;
    Regex() = default;
    template <typename Text>
    Result<std::vector<RegexMatch>> run(const Text& text, size_t maxMatches) const;
    template <typename Text>
    Result<bool> runWhole(const Text& text) const;

    std::string m_pattern;
    std::shared_ptr<const Compiled> m_compiled;
};

}  // namespace platform
