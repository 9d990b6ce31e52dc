#include "measurement/script/internal/APMPMethodSupport.h"

#include <algorithm>
#include <cmath>

#include "measurement/script/APMPComparison.h"

std::optional<double> APMPIntegerArgument(const APMPValuePtr& value, APMPError& error) {
  const double number = value->doubleValueOrError(error);
  if (error) return std::nullopt;
  return APMPToInteger(number);
}

namespace {

double fromEnd(double value, double count) { return std::clamp(value < 0 ? value + count : value, 0.0, count); }

}  // namespace

std::optional<std::pair<double, double>> APMPSliceRange(const APMPValueList& values, double count, APMPError& error) {
  double start = 0;
  double end = count;
  if (!values.empty()) {
    const std::optional<double> given = APMPIntegerArgument(values[0], error);
    if (!given) return std::nullopt;
    start = fromEnd(*given, count);
  }
  if (values.size() > 1) {
    const double given = values[1]->doubleValueOrError(error);
    if (error) return std::nullopt;
    if (!std::isnan(given)) end = fromEnd(APMPToInteger(given), count);
  }
  return std::pair{start, std::max(start, end)};
}
