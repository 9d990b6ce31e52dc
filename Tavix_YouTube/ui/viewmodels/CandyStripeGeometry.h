// Geometry of the candy-stripe progress bar: the fill width for a progress
// percentage and the stripe quadrilaterals for a canvas of width w, height h
// and stripe offset o. Pure functions, any thread.
//
// fillWidth(p, w) = p / 100 * w, or 0 when that is negative or not a number;
// there is no upper bound (120 % draws past the track). Stripes start at
// x = -h and repeat every 8 while x < w + h + o; each is the closed path
// (x+o, 0), (x+o+3, 0), (x+o+3+h, h), (x+o+h, h).
#pragma once

#include <array>
#include <vector>

namespace candy_stripe {

inline constexpr double kStripeWidth = 3;
inline constexpr double kStripePeriod = 8;
inline constexpr double kAnimationTravel = 16;       // two periods
inline constexpr double kAnimationDuration = 1.5;    // seconds per travel, linear, looping

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};
using Stripe = std::array<Point, 4>;

double fillWidth(double progress, double width);
double cornerRadius(double height);
std::vector<Stripe> stripes(double width, double height, double offset);

}  // namespace candy_stripe
