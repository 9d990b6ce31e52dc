#include "measurement/script/APMPArrayCommandEvaluator.h"

#include <algorithm>
#include <cmath>

#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPCommandEvaluator.h"
#include "measurement/script/APMPComparison.h"
#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "measurement/script/internal/APMPMethodSupport.h"

namespace {

using Array = std::shared_ptr<APMPArrayValue>;

APMPValuePtr countResult(std::optional<size_t> count) {
  return count ? APMPNumber(static_cast<double>(*count)) : APMPUndefined();
}

// The one callback of every, filter, forEach, map and some.
APMPFunctionValue* callbackArgument(const APMPValueList& values, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 1, error)) return nullptr;
  if (!values[0]->isFunction()) {
    error.set(kAPMPErrorArgumentKind);
    return nullptr;
  }
  return static_cast<APMPFunctionValue*>(values[0].get());
}

// Calls back every present element below the count read first; `visit`
// receives each result and answers NO to stop. NO after an error.
template <typename Visit>
bool forEachElement(const Array& receiver, APMPFunctionValue& callback, const APMPScopePtr& scope, APMPError& error,
                    Visit visit) {
  const size_t count = receiver->count();
  for (size_t i = 0; i < count; ++i) {
    if (receiver->isHoleAt(i)) continue;
    const APMPValuePtr element = receiver->elementAt(i);
    const APMPValuePtr result =
        callback.invokeWithArguments({element, APMPNumber(static_cast<double>(i)), receiver}, scope, error);
    if (error) return false;
    if (!visit(i, element, result)) break;
  }
  return true;
}

APMPValuePtr concat(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  std::shared_ptr<APMPArrayValue> result = APMPObjectManager::arrayValueWithArray(receiver->elements(), *scope);
  for (const APMPValuePtr& value : values) {
    if (!result->concat(value, error)) return APMPUndefined();
  }
  return result;
}

APMPValuePtr every(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  APMPFunctionValue* callback = callbackArgument(values, error);
  if (callback == nullptr) return APMPUndefined();
  bool all = true;
  const bool finished = forEachElement(receiver, *callback, scope, error, [&](size_t, const APMPValuePtr&, const APMPValuePtr& result) {
    all = result->booleanValueOrError(error);
    return !error && all;
  });
  if (!finished || error) return APMPUndefined();
  return APMPBoolean(all);
}

APMPValuePtr some(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  APMPFunctionValue* callback = callbackArgument(values, error);
  if (callback == nullptr) return APMPUndefined();
  bool any = false;
  const bool finished = forEachElement(receiver, *callback, scope, error, [&](size_t, const APMPValuePtr&, const APMPValuePtr& result) {
    any = result->booleanValueOrError(error);
    return !error && !any;
  });
  if (!finished || error) return APMPUndefined();
  return APMPBoolean(any);
}

APMPValuePtr filter(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  APMPFunctionValue* callback = callbackArgument(values, error);
  if (callback == nullptr) return APMPUndefined();
  APMPValueList kept;
  const bool finished = forEachElement(receiver, *callback, scope, error,
                                       [&](size_t, const APMPValuePtr& element, const APMPValuePtr& result) {
    const bool keep = result->booleanValueOrError(error);
    if (error) return false;
    if (keep) kept.push_back(element);
    return true;
  });
  if (!finished || error) return APMPUndefined();
  return APMPObjectManager::arrayValueWithArray(std::move(kept), *scope);
}

APMPValuePtr forEach(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  APMPFunctionValue* callback = callbackArgument(values, error);
  if (callback == nullptr) return APMPUndefined();
  forEachElement(receiver, *callback, scope, error, [](size_t, const APMPValuePtr&, const APMPValuePtr&) { return true; });
  return APMPUndefined();
}

APMPValuePtr map(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  APMPFunctionValue* callback = callbackArgument(values, error);
  if (callback == nullptr) return APMPUndefined();
  // Holes stay holes.
  APMPValueList mapped(receiver->count(), APMPRuntimeValue::emptyValue());
  const bool finished = forEachElement(receiver, *callback, scope, error,
                                       [&](size_t index, const APMPValuePtr&, const APMPValuePtr& result) {
    mapped[index] = result;
    return true;
  });
  if (!finished) return APMPUndefined();
  return APMPObjectManager::arrayValueWithArray(std::move(mapped), *scope);
}

APMPValuePtr hasOwnProperty(const Array& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 1, error)) return APMPUndefined();
  if (values[0]->isString() && static_cast<const APMPStringValue&>(*values[0]).value() == u"length") {
    return APMPBoolean(true);
  }
  const bool has = receiver->hasProperty(values[0], error);
  if (error) return APMPUndefined();
  return APMPBoolean(has);
}

APMPValuePtr indexOf(const Array& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 2, error)) return APMPUndefined();
  const APMPValuePtr& wanted = values.empty() ? APMPUndefined() : values[0];
  const auto count = static_cast<double>(receiver->count());
  double start = 0;
  if (values.size() > 1) {
    const std::optional<double> given = APMPIntegerArgument(values[1], error);
    if (!given) return APMPUndefined();
    start = *given;
  }
  if (start >= count) return APMPNumber(-1);
  if (start < 0) start = std::max(0.0, count + start);
  return APMPNumber(static_cast<double>(receiver->indexOfValue(*wanted, static_cast<int64_t>(start))));
}

APMPValuePtr lastIndexOf(const Array& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 2, error)) return APMPUndefined();
  const APMPValuePtr& wanted = values.empty() ? APMPUndefined() : values[0];
  const auto count = static_cast<double>(receiver->count());
  double start = count - 1;
  if (values.size() > 1) {
    const double given = values[1]->doubleValueOrError(error);
    if (error) return APMPUndefined();
    if (!std::isnan(given)) start = APMPToInteger(given);
  }
  if (start < 0) start += count;
  if (start < 0) return APMPNumber(-1);
  start = std::min(start, count - 1);
  return APMPNumber(static_cast<double>(receiver->lastIndexOfValue(*wanted, static_cast<int64_t>(start))));
}

APMPValuePtr join(const Array& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 1, error)) return APMPUndefined();
  std::u16string separator = u",";
  if (!values.empty()) {
    if (values[0]->isNothing()) {
      separator.clear();
    } else {
      separator = values[0]->stringValueOrError(error);
      if (error) return APMPUndefined();
    }
  }
  std::u16string text = receiver->stringValueWithSeparator(separator, error);
  if (error) return APMPUndefined();
  return APMPString(std::move(text));
}

APMPValuePtr pop(const Array& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 0, error)) return APMPUndefined();
  return receiver->removeLastElement();
}

APMPValuePtr shift(const Array& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 0, error)) return APMPUndefined();
  return receiver->removeFirstElement();
}

APMPValuePtr push(const Array& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return countResult(receiver->appendElements(values, error));
}

APMPValuePtr unshift(const Array& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return countResult(receiver->prependElements(values, error));
}

APMPValuePtr reduceFrom(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope,
                        APMPError& error, bool backwards) {
  if (!APMPCheckArgumentRange(values, 1, 2, error)) return APMPUndefined();
  if (!values[0]->isFunction() || (values.size() > 1 && values[1]->isControl())) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  auto& callback = static_cast<APMPFunctionValue&>(*values[0]);
  const size_t count = receiver->count();
  // Positions in visiting order: 0..count-1, or count-1..0.
  size_t step = 0;
  auto indexAt = [&](size_t position) { return backwards ? count - 1 - position : position; };
  APMPValuePtr accumulated;
  if (values.size() > 1) {
    accumulated = values[1];
  } else {
    while (step < count && receiver->isHoleAt(indexAt(step))) ++step;
    if (step == count) {
      error.set(kAPMPErrorEmptyReduction);
      return APMPUndefined();
    }
    accumulated = receiver->elementAt(indexAt(step++));
  }
  for (; step < count; ++step) {
    const size_t index = indexAt(step);
    if (receiver->isHoleAt(index)) continue;
    accumulated = callback.invokeWithArguments(
        {accumulated, receiver->elementAt(index), APMPNumber(static_cast<double>(index)), receiver}, scope, error);
    if (error) return APMPUndefined();
  }
  return accumulated;
}

APMPValuePtr reduce(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  return reduceFrom(receiver, values, scope, error, false);
}

APMPValuePtr reduceRight(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope,
                         APMPError& error) {
  return reduceFrom(receiver, values, scope, error, true);
}

APMPValuePtr reverse(const Array& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 0, error)) return APMPUndefined();
  receiver->reverse();
  return receiver;
}

APMPValuePtr slice(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 2, error)) return APMPUndefined();
  const std::optional<std::pair<double, double>> range =
      APMPSliceRange(values, static_cast<double>(receiver->count()), error);
  if (!range) return APMPUndefined();
  const auto [start, end] = *range;
  return APMPObjectManager::subarrayWithArray(*receiver, static_cast<int64_t>(start), static_cast<int64_t>(end - start),
                                              *scope);
}

APMPValuePtr sort(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentRange(values, 0, 1, error)) return APMPUndefined();
  if (receiver->count() < 2) return receiver;
  std::shared_ptr<APMPFunctionValue> comparator;
  if (!values.empty()) {
    if (!values[0]->isFunction()) {
      error.set(kAPMPErrorArgumentKind);
      return receiver;
    }
    comparator = std::static_pointer_cast<APMPFunctionValue>(values[0]);
  }
  if (!receiver->sortUsingFunctionValue(comparator, scope, error)) return APMPUndefined();
  return receiver;
}

APMPValuePtr splice(const Array& receiver, const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  if (values.empty()) return APMPObjectManager::arrayValueWithScope(*scope);
  const auto count = static_cast<double>(receiver->count());
  const std::optional<double> givenStart = APMPIntegerArgument(values[0], error);
  if (!givenStart) return APMPUndefined();
  const double start = std::clamp(*givenStart < 0 ? *givenStart + count : *givenStart, 0.0, count);
  double deleteCount = count - start;
  if (values.size() > 1) {
    const std::optional<double> given = APMPIntegerArgument(values[1], error);
    if (!given) return APMPUndefined();
    deleteCount = std::clamp(*given, 0.0, count - start);
  }
  const APMPValueList items(values.begin() + std::min<ptrdiff_t>(2, static_cast<ptrdiff_t>(values.size())), values.end());
  APMPValueList removed =
      receiver->spliceFrom(static_cast<int64_t>(start), static_cast<int64_t>(deleteCount), items, error);
  if (error) return APMPUndefined();
  return APMPObjectManager::arrayValueWithArray(std::move(removed), *scope);
}

APMPValuePtr toString(const Array& receiver, const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 0, error)) return APMPUndefined();
  std::u16string text = receiver->stringValueOrError(error);
  if (error) return APMPUndefined();
  return APMPString(std::move(text));
}

}  // namespace

const APMPArrayCommandEvaluator& APMPArrayCommandEvaluator::sharedInstance() {
  static const APMPArrayCommandEvaluator* instance = new APMPArrayCommandEvaluator();  // never destroyed
  return *instance;
}

APMPArrayCommandEvaluator::APMPArrayCommandEvaluator()
    : m_handlers{{u"concat", concat},   {u"every", every},
                 {u"filter", filter},   {u"forEach", forEach},
                 {u"hasOwnProperty", hasOwnProperty},
                 {u"indexOf", indexOf}, {u"join", join},
                 {u"lastIndexOf", lastIndexOf},
                 {u"map", map},         {u"pop", pop},
                 {u"push", push},       {u"reduce", reduce},
                 {u"reduceRight", reduceRight},
                 {u"reverse", reverse}, {u"shift", shift},
                 {u"slice", slice},     {u"some", some},
                 {u"sort", sort},       {u"splice", splice},
                 {u"toString", toString},
                 {u"unshift", unshift}} {}

APMPValuePtr APMPArrayCommandEvaluator::evaluateCommand(const std::u16string& method, const Array& receiver,
                                                        const APMPValueList& arguments, const APMPScopePtr& scope,
                                                        APMPError& error) const {
  return APMPCallMethod(m_handlers, method, receiver, arguments, scope, error);
}
