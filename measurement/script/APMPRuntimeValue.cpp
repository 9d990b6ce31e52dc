#include "measurement/script/APMPRuntimeValue.h"

#include <cmath>
#include <limits>
#include <set>
#include <utility>

#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPControlValue.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPMapValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"

const APMPValuePtr& APMPRuntimeValue::emptyValue() {
  static const APMPValuePtr* hole =  // never destroyed
      new APMPValuePtr(std::make_shared<APMPRuntimeValue>(APMPValueKind::Hole));
  return *hole;
}

std::u16string APMPRuntimeValue::stringValueOrError(APMPError& error) const {
  error.set(kAPMPErrorNoStringValue);
  return {};
}

double APMPRuntimeValue::doubleValueOrError(APMPError& error) const {
  error.set(kAPMPErrorNoNumberValue);
  return std::numeric_limits<double>::quiet_NaN();
}

bool APMPRuntimeValue::booleanValueOrError(APMPError& error) const {
  error.set(kAPMPErrorNoBooleanValue);
  return false;
}

APMPValuePtr APMPRuntimeValue::applyWithName(const std::u16string& name, const APMPValueList&, const APMPScopePtr&,
                                             APMPError& error) {
  if (name == u"toString") {
    std::u16string text = stringValueOrError(error);
    if (error) return APMPUndefined();
    return APMPString(std::move(text));
  }
  error.set(kAPMPErrorUnknownMethod);
  return APMPUndefined();
}

void APMPRuntimeValue::markReferences(APMPMarker&) const {}
void APMPRuntimeValue::dropReferences() {}

namespace {

using Pair = std::pair<const APMPRuntimeValue*, const APMPRuntimeValue*>;

// Compares the pair itself; pushes the pairs of what they hold that must be
// compared next. NO when they differ.
bool compareShallow(const APMPRuntimeValue& a, const APMPRuntimeValue& b, std::vector<Pair>& next) {
  if (&a == &b) return true;
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case APMPValueKind::Undefined:
    case APMPValueKind::Null:
      return true;
    case APMPValueKind::Boolean:
      return static_cast<const APMPBooleanValue&>(a).value() == static_cast<const APMPBooleanValue&>(b).value();
    case APMPValueKind::Number: {
      const double x = static_cast<const APMPNumberValue&>(a).value();
      const double y = static_cast<const APMPNumberValue&>(b).value();
      return x == y || (std::isnan(x) && std::isnan(y));
    }
    case APMPValueKind::String:
      return static_cast<const APMPStringValue&>(a).value() == static_cast<const APMPStringValue&>(b).value();
    case APMPValueKind::Array: {
      const APMPValueList& x = static_cast<const APMPArrayValue&>(a).elements();
      const APMPValueList& y = static_cast<const APMPArrayValue&>(b).elements();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) next.emplace_back(x[i].get(), y[i].get());
      return true;
    }
    case APMPValueKind::Map: {
      const APMPPropertyMap& x = static_cast<const APMPMapValue&>(a).properties();
      const APMPPropertyMap& y = static_cast<const APMPMapValue&>(b).properties();
      if (x.size() != y.size()) return false;
      bool same = true;
      x.forEach([&](const std::u16string& name, const APMPValuePtr& value) {
        if (!same) return;
        const APMPValuePtr* other = y.find(name);
        if (other == nullptr) {
          same = false;
        } else {
          next.emplace_back(value.get(), other->get());
        }
      });
      return same;
    }
    case APMPValueKind::Function: {
      const std::u16string& name = static_cast<const APMPFunctionValue&>(a).functionName();
      return !name.empty() && name == static_cast<const APMPFunctionValue&>(b).functionName();
    }
    case APMPValueKind::Statement: {
      const auto& x = static_cast<const APMPStatementValue&>(a);
      const auto& y = static_cast<const APMPStatementValue&>(b);
      if (x.functionName() != y.functionName() || x.arguments().size() != y.arguments().size()) return false;
      for (size_t i = 0; i < x.arguments().size(); ++i) next.emplace_back(x.arguments()[i].get(), y.arguments()[i].get());
      return true;
    }
    case APMPValueKind::Control: {
      const auto& x = static_cast<const APMPControlValue&>(a);
      const auto& y = static_cast<const APMPControlValue&>(b);
      if (x.type() != y.type()) return false;
      next.emplace_back(x.data().get(), y.data().get());
      return true;
    }
    case APMPValueKind::Hole:
      return false;
  }
  return false;
}

}  // namespace

bool APMPRuntimeValue::isEqualToRuntimeValue(const APMPRuntimeValue& other) const {
  // Depth first with an explicit stack; a pair seen before is either being
  // compared further up or already known equal, so it counts as equal.
  std::vector<Pair> pending{{this, &other}};
  std::set<Pair> seen;
  while (!pending.empty()) {
    const Pair pair = pending.back();
    pending.pop_back();
    if (pair.first == pair.second) continue;
    if (pair.first->isCollectable() || pair.first->isStatement()) {
      if (!seen.insert(pair).second) continue;
    }
    if (!compareShallow(*pair.first, *pair.second, pending)) return false;
  }
  return true;
}
