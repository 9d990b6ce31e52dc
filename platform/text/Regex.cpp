#include "platform/text/Regex.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

#include <limits>

namespace platform {

struct Regex::Compiled {
    std::unique_ptr<icu::RegexPattern> pattern;
    RegexOptions options;
    size_t groupCount = 0;
};

namespace {

icu::UnicodeString toUnicode(std::string_view text) {
    if (text.size() > size_t(std::numeric_limits<int32_t>::max())) text = text.substr(0, std::numeric_limits<int32_t>::max());
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

icu::UnicodeString toUnicode(std::u16string_view text) {
    const auto length = static_cast<int32_t>(std::min<size_t>(text.size(), size_t(std::numeric_limits<int32_t>::max())));
    // Read-only alias: the text outlives the matcher that reads it.
    return icu::UnicodeString(false, text.data(), length);
}

Error matchError(UErrorCode status) {
    if (status == U_REGEX_TIME_OUT || status == U_REGEX_STACK_OVERFLOW)
        return Error::make(Regex::kErrorDomain, Regex::kLimitExceeded,
                           std::string("Regular expression work limit exceeded (") + u_errorName(status) + ")");
    return Error::make(Regex::kErrorDomain, Regex::kMatchFailed,
                       std::string("Regular expression match failed (") + u_errorName(status) + ")");
}

}  // namespace

Result<Regex> Regex::compile(std::string_view pattern, const RegexOptions& options) {
    uint32_t flags = 0;
    if (options.caseInsensitive) flags |= UREGEX_CASE_INSENSITIVE;
    if (options.multiline) flags |= UREGEX_MULTILINE;
    if (options.dotAll) flags |= UREGEX_DOTALL;

    UParseError parseError{};
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(toUnicode(pattern), flags, parseError, status));
    if (U_FAILURE(status) || !compiled) {
        return Error::make(kErrorDomain, kInvalidPattern,
                           "Invalid regular expression (" + std::string(u_errorName(status)) + " at offset " +
                               std::to_string(parseError.offset) + ")");
    }
    Regex regex;
    regex.m_pattern = std::string(pattern);
    auto holder = std::make_shared<Compiled>();
    holder->pattern = std::move(compiled);
    holder->options = options;
    {
        const icu::UnicodeString empty;
        std::unique_ptr<icu::RegexMatcher> probe(holder->pattern->matcher(empty, status));
        if (U_SUCCESS(status)) holder->groupCount = static_cast<size_t>(probe->groupCount());
    }
    regex.m_compiled = std::move(holder);
    return regex;
}

size_t Regex::groupCount() const {
    return m_compiled->groupCount;
}

template <typename Text>
Result<std::vector<RegexMatch>> Regex::run(const Text& text, size_t maxMatches) const {
    const icu::UnicodeString input = toUnicode(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(m_compiled->pattern->matcher(input, status));
    if (U_FAILURE(status)) return matchError(status);
    if (m_compiled->options.timeLimit > 0) matcher->setTimeLimit(m_compiled->options.timeLimit, status);
    matcher->setStackLimit(m_compiled->options.stackLimitBytes, status);
    if (U_FAILURE(status)) return matchError(status);

    std::vector<RegexMatch> matches;
    const int32_t groups = matcher->groupCount();
    while (matches.size() < maxMatches && matcher->find(status)) {
        RegexMatch match;
        match.captures.resize(static_cast<size_t>(groups) + 1);
        for (int32_t g = 0; g <= groups; ++g) {
            const int32_t start = matcher->start(g, status);
            const int32_t end = matcher->end(g, status);
            if (U_FAILURE(status)) return matchError(status);
            if (start < 0) continue;  // group not part of this match
            RegexCapture capture;
            capture.location = static_cast<size_t>(start);
            capture.length = static_cast<size_t>(end - start);
            input.tempSubStringBetween(start, end).toUTF8String(capture.text);
            match.captures[static_cast<size_t>(g)] = std::move(capture);
        }
        matches.push_back(std::move(match));
    }
    if (U_FAILURE(status)) return matchError(status);
    return matches;
}

template <typename Text>
Result<bool> Regex::runWhole(const Text& text) const {
    const icu::UnicodeString input = toUnicode(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(m_compiled->pattern->matcher(input, status));
    if (U_FAILURE(status)) return matchError(status);
    if (m_compiled->options.timeLimit > 0) matcher->setTimeLimit(m_compiled->options.timeLimit, status);
    matcher->setStackLimit(m_compiled->options.stackLimitBytes, status);
    const bool whole = matcher->matches(status);
    if (U_FAILURE(status)) return matchError(status);
    return whole;
}

Result<std::optional<RegexMatch>> Regex::firstMatch(std::string_view text) const {
    auto r = run(text, 1);
    if (!r) return r.error();
    if (r->empty()) return std::optional<RegexMatch>();
    return std::optional<RegexMatch>(std::move(r->front()));
}

Result<std::optional<RegexMatch>> Regex::firstMatch(std::u16string_view text) const {
    auto r = run(text, 1);
    if (!r) return r.error();
    if (r->empty()) return std::optional<RegexMatch>();
    return std::optional<RegexMatch>(std::move(r->front()));
}

Result<std::vector<RegexMatch>> Regex::allMatches(std::string_view text) const {
    return run(text, std::numeric_limits<size_t>::max());
}

Result<std::vector<RegexMatch>> Regex::allMatches(std::u16string_view text) const {
    return run(text, std::numeric_limits<size_t>::max());
}

Result<bool> Regex::search(std::string_view text) const {
    auto r = run(text, 1);
    if (!r) return r.error();
    return !r->empty();
}

Result<bool> Regex::search(std::u16string_view text) const {
    auto r = run(text, 1);
    if (!r) return r.error();
    return !r->empty();
}

Result<bool> Regex::matchesWhole(std::string_view text) const { return runWhole(text); }
Result<bool> Regex::matchesWhole(std::u16string_view text) const { return runWhole(text); }

}  // namespace platform
