#include "Tavix_YouTube/ui/viewmodels/CandyStripeGeometry.h"

#include <cmath>

namespace candy_stripe {

double fillWidth(double progress, double width) {
  const double w = progress / 100.0 * width;
  return (std::isnan(w) || w < 0) ? 0.0 : w;
}

double cornerRadius(double height) { return height / 2; }

std::vector<Stripe> stripes(double width, double height, double offset) {
  std::vector<Stripe> result;
  const double end = width + height + offset;
  if (!std::isfinite(end)) return result;  // a broken size draws nothing rather than looping
  for (int k = 0;; ++k) {
    const double x = -height + kStripePeriod * k;
    if (!(x < end)) break;
    const double left = x + offset;
    result.push_back({Point{left, 0}, Point{left + kStripeWidth, 0}, Point{left + kStripeWidth + height, height},
                      Point{left + height, height}});
  }
  return result;
}

}  // namespace candy_stripe
