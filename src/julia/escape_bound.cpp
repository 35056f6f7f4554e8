#include "julia/escape_bound.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace quatdepth {
namespace {

// Relative slack for rounding. One pass in doubles loses less than 16
// units in the last place (2^-53 each) of the norms below; 1e-12 covers
// that many hundred times over, and the same slack also covers the
// rounding of this bound's own arithmetic.
constexpr double kSlack = 1e-12;
// Passes a bound may take to show an escape. Above the fixed point the
// bounded norm at least doubles its distance from it each pass, so any
// start that escapes at all does so within a few hundred.
constexpr int64_t kMostPasses = 10000;

// Whether every point of norm r or more escapes within `passes` passes.
// A pass squares the quaternion, which squares its norm, and the membership
// test leaves once the square's squared norm, r^4, reaches the bailout;
// adding juliaC then takes at most |c| off the norm. Each step below is
// smaller than the norm it stands for, by more than any rounding.
bool normEscapes(double r, double bailout, double cNorm, int64_t passes) {
  for (int64_t pass = 0; pass < passes && pass < kMostPasses; ++pass) {
    const double squared = r * r;
    if (squared * squared * (1 - 10 * kSlack) >= bailout) return true;
    const double next = (squared * (1 - kSlack) - cNorm) * (1 - kSlack);
    if (!(next > r)) return false;  // no longer growing: it never will
    r = next;
  }
  return false;
}

}  // namespace

double escapeNormSquared(const RenderSettings *s) {
  const double bailout = static_cast<double>(s->bailout);
  if (bailout <= 0) return 0;
  const int64_t passes = s->maxIterations < 1 ? 1 : s->maxIterations;
  const double *c = s->juliaC;
  const double cNorm =
      std::sqrt(((c[0] * c[0] + c[1] * c[1]) + c[2] * c[2]) + c[3] * c[3]) * (1 + kSlack);
  if (!std::isfinite(cNorm)) return std::numeric_limits<double>::infinity();
  // The smallest norm that escapes, by bisection: escaping only gets
  // easier as the norm grows.
  double high = 2;
  while (!normEscapes(high, bailout, cNorm, passes)) {
    high *= 2;
    if (high > 1e100) return std::numeric_limits<double>::infinity();
  }
  double low = 0;
  for (int step = 0; step < 100; ++step) {
    const double middle = low + (high - low) / 2;
    if (middle <= low || middle >= high) break;
    if (normEscapes(middle, bailout, cNorm, passes))
      high = middle;
    else
      low = middle;
  }
  // A start's squared norm is summed with less than 4 units of rounding.
  return high * high * (1 + 1000 * kSlack);
}

}  // namespace quatdepth
