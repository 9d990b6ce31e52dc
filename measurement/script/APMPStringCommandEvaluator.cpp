#include "measurement/script/APMPStringCommandEvaluator.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPCommandEvaluator.h"
#include "measurement/script/APMPComparison.h"
#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPNullValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "measurement/script/internal/APMPMethodSupport.h"
#include "platform/text/Regex.h"
#include "platform/text/Unicode.h"
#include "platform/time/Locale.h"

namespace {

using Text = std::u16string;

std::optional<Text> textArgument(const APMPValuePtr& value, APMPError& error) {
  Text text = value->stringValueOrError(error);
  if (error) return std::nullopt;
  return text;
}

size_t clampIndex(double value, size_t length) {
  return static_cast<size_t>(std::clamp(value, 0.0, static_cast<double>(length)));
}

APMPValuePtr textResult(Text text, APMPError& error) { return APMPStringValue::checkedValueWithString(std::move(text), error); }

APMPValuePtr charAt(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 1, error)) return APMPUndefined();
  double index = 0;
  if (!values.empty()) {
    const std::optional<double> given = APMPIntegerArgument(values[0], error);
    if (!given) return APMPUndefined();
    index = *given;
  }
  if (index < 0 || index >= static_cast<double>(receiver.size())) return APMPString(u"");
  return APMPString(Text(1, receiver[static_cast<size_t>(index)]));
}

APMPValuePtr concat(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  Text text = receiver;
  for (const APMPValuePtr& value : values) {
    const std::optional<Text> part = textArgument(value, error);
    if (!part) return APMPUndefined();
    if (text.size() + part->size() > APMPRuntimeValue::kMaxStringLength) {
      error.set(kAPMPErrorArgumentKind);
      return APMPUndefined();
    }
    text += *part;
  }
  return APMPString(std::move(text));
}

APMPValuePtr hasOwnProperty(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 1, error)) return APMPUndefined();
  const std::optional<Text> name = textArgument(values[0], error);
  if (!name) return APMPUndefined();
  if (*name == u"length") return APMPBoolean(true);
  const double index = values[0]->doubleValueOrError(error);
  if (error) return APMPUndefined();
  return APMPBoolean(std::isfinite(index) && index == std::trunc(index) && index >= 0 &&
                     index < static_cast<double>(receiver.size()));
}

APMPValuePtr position(size_t found) {
  return APMPNumber(found == Text::npos ? -1.0 : static_cast<double>(found));
}

APMPValuePtr indexOf(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 2, error)) return APMPUndefined();
  const std::optional<Text> search = textArgument(values.empty() ? APMPUndefined() : values[0], error);
  if (!search) return APMPUndefined();
  size_t start = 0;
  if (values.size() > 1) {
    const std::optional<double> given = APMPIntegerArgument(values[1], error);
    if (!given) return APMPUndefined();
    start = clampIndex(*given, receiver.size());
  }
  return position(receiver.find(*search, start));
}

APMPValuePtr lastIndexOf(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 2, error)) return APMPUndefined();
  const std::optional<Text> search = textArgument(values.empty() ? APMPUndefined() : values[0], error);
  if (!search) return APMPUndefined();
  size_t start = receiver.size();
  if (values.size() > 1) {
    const double given = values[1]->doubleValueOrError(error);
    if (error) return APMPUndefined();
    if (!std::isnan(given)) start = clampIndex(APMPToInteger(given), receiver.size());
  }
  return position(receiver.rfind(*search, start));
}

// The pattern compiled without options; none with the platform's error.
std::optional<platform::Regex> compilePattern(const Text& pattern, APMPError& error) {
  platform::Result<platform::Regex> compiled = platform::Regex::compile(platform::Unicode::toUtf8(pattern));
  if (!compiled) {
    error.set(compiled.error());
    return std::nullopt;
  }
  return std::move(compiled.value());
}

APMPValuePtr match(const Text& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 1, error)) return APMPUndefined();
  Text pattern;
  if (!values.empty()) {
    const std::optional<Text> given = textArgument(values[0], error);
    if (!given) return APMPUndefined();
    pattern = *given;
  }
  if (pattern.empty()) return APMPObjectManager::arrayValueWithArray({APMPString(u"")}, *scope);
  const std::optional<platform::Regex> regex = compilePattern(pattern, error);
  if (!regex) return APMPUndefined();
  platform::Result<std::optional<platform::RegexMatch>> found = regex->firstMatch(std::u16string_view(receiver));
  if (!found) {
    error.set(found.error());
    return APMPUndefined();
  }
  if (!found.value()) return APMPNull();
  const platform::RegexMatch& first = *found.value();
  return APMPObjectManager::arrayValueWithArray({APMPString(receiver.substr(first.location(), first.length()))},
                                                *scope);
}

APMPValuePtr search(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 1, error)) return APMPUndefined();
  const std::optional<Text> pattern = textArgument(values.empty() ? APMPUndefined() : values[0], error);
  if (!pattern) return APMPUndefined();
  if (pattern->empty()) return APMPNumber(0);
  const std::optional<platform::Regex> regex = compilePattern(*pattern, error);
  if (!regex) return APMPUndefined();
  platform::Result<std::optional<platform::RegexMatch>> found = regex->firstMatch(std::u16string_view(receiver));
  if (!found) {
    error.set(found.error());
    return APMPUndefined();
  }
  return APMPNumber(found.value() ? static_cast<double>(found.value()->location()) : -1.0);
}

APMPValuePtr replace(const Text& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 2, error)) return APMPUndefined();
  const std::optional<Text> search = textArgument(values.empty() ? APMPUndefined() : values[0], error);
  if (!search) return APMPUndefined();
  const size_t at = search->empty() ? 0 : receiver.find(*search);
  if (at == Text::npos) return APMPString(receiver);
  Text replacement;
  if (values.size() < 2) {
    replacement = *search;
  } else if (values[1]->isFunction()) {
    auto& function = static_cast<APMPFunctionValue&>(*values[1]);
    const APMPValuePtr result = function.invokeWithArguments(
        {APMPString(*search), APMPNumber(static_cast<double>(at)), APMPString(receiver)}, scope, error);
    if (error) return APMPUndefined();
    const std::optional<Text> text = textArgument(result, error);
    if (!text) return APMPUndefined();
    replacement = *text;
  } else {
    const std::optional<Text> text = textArgument(values[1], error);
    if (!text) return APMPUndefined();
    replacement = *text;
  }
  if (receiver.size() - search->size() + replacement.size() > APMPRuntimeValue::kMaxStringLength) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  Text text = receiver;
  text.replace(at, search->size(), replacement);
  return APMPString(std::move(text));
}

APMPValuePtr slice(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 2, error)) return APMPUndefined();
  const std::optional<std::pair<double, double>> range =
      APMPSliceRange(values, static_cast<double>(receiver.size()), error);
  if (!range) return APMPUndefined();
  const auto [start, end] = *range;
  return APMPString(receiver.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

APMPValuePtr split(const Text& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 2, error)) return APMPUndefined();
  if (receiver.empty() || values.empty()) {
    return APMPObjectManager::arrayValueWithArray({APMPString(receiver)}, *scope);
  }
  const std::optional<Text> separator = textArgument(values[0], error);
  if (!separator) return APMPUndefined();
  size_t limit = std::numeric_limits<size_t>::max();
  if (values.size() > 1) {
    const double given = values[1]->doubleValueOrError(error);
    if (error) return APMPUndefined();
    limit = APMPToUInt32(given);
  }
  APMPValueList pieces;
  auto add = [&](Text piece) {
    if (pieces.size() >= APMPRuntimeValue::kMaxArrayLength) {
      error.set(kAPMPErrorArgumentKind);
      return false;
    }
    pieces.push_back(APMPString(std::move(piece)));
    return true;
  };
  if (separator->empty()) {
    for (size_t i = 0; i < receiver.size() && pieces.size() < limit; ++i) {
      if (!add(Text(1, receiver[i]))) return APMPUndefined();
    }
  } else {
    size_t from = 0;
    while (pieces.size() < limit) {
      const size_t at = receiver.find(*separator, from);
      if (!add(receiver.substr(from, at == Text::npos ? Text::npos : at - from))) return APMPUndefined();
      if (at == Text::npos) break;
      from = at + separator->size();
    }
  }
  return APMPObjectManager::arrayValueWithArray(std::move(pieces), *scope);
}

APMPValuePtr substring(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 2, error)) return APMPUndefined();
  size_t start = 0;
  size_t end = receiver.size();
  if (!values.empty()) {
    const std::optional<double> given = APMPIntegerArgument(values[0], error);
    if (!given) return APMPUndefined();
    start = clampIndex(*given, receiver.size());
  }
  if (values.size() > 1) {
    const std::optional<double> given = APMPIntegerArgument(values[1], error);
    if (!given) return APMPUndefined();
    end = clampIndex(*given, receiver.size());
  }
  if (start > end) std::swap(start, end);
  return APMPString(receiver.substr(start, end - start));
}

// The language of the user's first preferred locale, for the locale-aware
// case mappings.
std::string currentLocale() {
  const std::vector<std::string> languages = platform::Locale::preferredLanguages();
  return languages.empty() ? std::string() : languages.front();
}

APMPValuePtr toLowerCase(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 0, error)) return APMPUndefined();
  return textResult(platform::Unicode::lowercase(std::u16string_view(receiver)), error);
}

APMPValuePtr toUpperCase(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 0, error)) return APMPUndefined();
  return textResult(platform::Unicode::uppercase(std::u16string_view(receiver)), error);
}

APMPValuePtr toLocaleLowerCase(const Text& receiver, const APMPValueList& values, const APMPScopePtr&,
                               APMPError& error) {
  if (!APMPCheckArgumentCount(values, 0, error)) return APMPUndefined();
  return textResult(platform::Unicode::lowercase(std::u16string_view(receiver), currentLocale()), error);
}

APMPValuePtr toLocaleUpperCase(const Text& receiver, const APMPValueList& values, const APMPScopePtr&,
                               APMPError& error) {
  if (!APMPCheckArgumentCount(values, 0, error)) return APMPUndefined();
  return textResult(platform::Unicode::uppercase(std::u16string_view(receiver), currentLocale()), error);
}

APMPValuePtr toString(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 0, error)) return APMPUndefined();
  return APMPString(receiver);
}

APMPValuePtr trim(const Text& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 0, error)) return APMPUndefined();
  return APMPString(platform::Unicode::trimWhitespaceAndNewlines(std::u16string_view(receiver)));
}

}  // namespace

const APMPStringCommandEvaluator& APMPStringCommandEvaluator::sharedInstance() {
  static const APMPStringCommandEvaluator* instance = new APMPStringCommandEvaluator();  // never destroyed
  return *instance;
}

APMPStringCommandEvaluator::APMPStringCommandEvaluator()
    : m_handlers{{u"charAt", charAt},
                 {u"concat", concat},
                 {u"hasOwnProperty", hasOwnProperty},
                 {u"indexOf", indexOf},
                 {u"lastIndexOf", lastIndexOf},
                 {u"match", match},
                 {u"replace", replace},
                 {u"search", search},
                 {u"slice", slice},
                 {u"split", split},
                 {u"substring", substring},
                 {u"toLowerCase", toLowerCase},
                 {u"toLocaleLowerCase", toLocaleLowerCase},
                 {u"toUpperCase", toUpperCase},
                 {u"toLocaleUpperCase", toLocaleUpperCase},
                 {u"toString", toString},
                 {u"trim", trim}} {}

APMPValuePtr APMPStringCommandEvaluator::evaluateCommand(const std::u16string& method, const std::u16string& receiver,
                                                         const APMPValueList& arguments, const APMPScopePtr& scope,
                                                         APMPError& error) const {
  return APMPCallMethod(m_handlers, method, receiver, arguments, scope, error);
}
