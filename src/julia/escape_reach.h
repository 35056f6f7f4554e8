#pragma once

// How far around an escaping probe every other point escapes too.
//
// A probe p that leaves the set tells about its neighbours: a point p'
// within e of q (both quaternions) squares to within e (2|q| + e) of q^2,
// so a neighbour's orbit stays close to the probe's for as long as the
// deviations stay small, and once the probe's orbit is far enough beyond
// an escape threshold, the neighbour's is beyond it too. The reach is a
// radius r around p within which that is proven, for the orbits the
// program computes in doubles, not only for the real ones:
//
// - Deviations grow by a product. With e_i <= zeta sqrt(P_i) (zeta being an
//   upper limit for r chosen before the probe runs),
//     (2|q_i| + e_i)^2 <= 4 (1 + theta) Q_i + (1 + 1/theta) zeta^2 P_i = f_i,
//   (Q_i = |q_i|^2; the middle term 4|q|e is split by the inequality of
//   arithmetic and geometric means, so no square root is taken a pass),
//   and P_{i+1} = P_i f_i. Then e_i <= sqrt(P_i) (r + rounding) for every
//   r <= zeta.
// - Rounding. One computed pass of a neighbour differs from the exact
//   square of its computed start by at most 9 units in the last place of
//   the deviation term (taken into f by a relative slack) plus an absolute
//   eta that depends only on the orbit's largest norm before the stop
//   (bounded per view, below). Carried through the product, the eta of
//   the passes add up to at most passes x eta / sqrt(min P_i) of start
//   deviation.
// - The last pass is taken apart: e (2|q| + e) <= d holds for
//   e^2 = d^2 / (4 (|q|^2 + d)), where d is how far the probe went past
//   its threshold (the bailout's root on the square, or the root of the
//   sure-escape norm on the new quaternion, from which an orbit escapes
//   within the passes left).
// - Every quantity is rounded toward the safe side by a relative slack
//   of 1e-12, thousands of times the rounding of a few operations.
//
// The sample points themselves are computed, not exact: two levels' points
// lie within their levels' distance (times a slack) plus twice a stray of
// the rotation's rounding. A level is skipped only when all of that fits
// in the reach. Everything here is written once over a lane type L, so the
// scalar search (OneLane) and every vector path prove the same thing.

#include <cmath>
#include <cstdint>

#include "settings/render_settings.h"

namespace quatdepth {

// Per view: the constants of the reach and of its use along a ray.
struct EscapeReach {
  double grow = 0;        // 4 (1 + theta), with slack
  double nonlinear = 0;   // (1 + 1/theta), with slack; times zeta^2 per probe
  double eta = 0;         // rounding a pass adds to a deviation, absolute
  double largestStart = 0;  // squared norm of a start the eta holds for
  double bailoutRoot = 0;   // sqrt(bailout), taken long
  double sureRoot = 0;      // sqrt(sure-escape norm), taken long; 0 without one
  double stopNorm = 0;      // squared norm the vector searches stop probes at
  double levelStep = 0;     // distance of neighbouring levels' points, taken long
  double perLevelStep = 0;  // 1 / levelStep, taken short
  double strays = 0;        // twice a computed point's possible stray
  double longestReach = 0;  // no reach beyond this is of use: the whole ray
};

// The constants for these settings; `sureNorm` is sureEscapeNorm's.
EscapeReach escapeReach(const RenderSettings *settings, double sureNorm);

// Levels after a probe that its reach `reach` covers (0 when it is not a
// number or shorter than a level).
int32_t levelsWithin(const EscapeReach &r, double reach);

// The lane type of a single double, for the scalar search.
struct OneLane {
  static constexpr int kLanes = 1;
  using Vec = double;
  static Vec set(double v) { return v; }
  static Vec add(Vec x, Vec y) { return x + y; }
  static Vec sub(Vec x, Vec y) { return x - y; }
  static Vec mul(Vec x, Vec y) { return x * y; }
  static Vec div(Vec x, Vec y) { return x / y; }
  static Vec sqrt(Vec x) { return std::sqrt(x); }
  static Vec min(Vec x, Vec y) { return y < x ? y : x; }
  static uint32_t below(Vec x, Vec y) { return x < y ? 1u : 0u; }
  static Vec select(uint32_t bits, Vec yes, Vec no) { return (bits & 1) ? yes : no; }
};

// One pass's growth of the deviation product: from P_i to P_{i+1} given
// Q_i, and the least product so far. `zetaTerm` is nonlinear x zeta^2.
template <class L>
[[gnu::always_inline]] inline void growDeviation(typename L::Vec grow, typename L::Vec q,
                                                 typename L::Vec zetaTerm,
                                                 typename L::Vec *product,
                                                 typename L::Vec *least) {
  const typename L::Vec f = L::add(L::mul(q, grow), L::mul(*product, zetaTerm));
  *product = L::mul(*product, f);
  *least = L::min(*least, *product);
}

// What a stopped probe proves. `beyond` is the squared norm that stopped
// it (the square's n, or the new quaternion's |q|^2) and `threshold` the
// root it had to pass (bailoutRoot or sureRoot); `lastQ` and `lastProduct`
// are Q and P before the stopping pass; `least` the least P of the passes
// before it (or smaller); `passes` how many it ran. Returns the reach, and
// in *unlimited the reach zeta did not cap, which tells the next probe's
// zeta. Either may be negative or not a number: no reach.
//
// The last pass's deviation e keeps e (2|q| + e) <= d for
// e^2 = d^2 / (4 (|q|^2 + d)) (with x = d / (|q|^2 + d), the sum is at most
// d (sqrt(1 - x) + x / 4) <= d), a square root short of the exact root.
// The passes' rounding is allowed for by taking a thousandth off the
// reach, where it is at most that, which it is unless the products have
// all but vanished; then there is no reach. Two square roots and two divisions a probe.
template <class L>
[[gnu::always_inline]] inline typename L::Vec reachOfEscape(
    const EscapeReach &r, typename L::Vec beyond, typename L::Vec threshold,
    typename L::Vec lastQ, typename L::Vec lastProduct, typename L::Vec least,
    typename L::Vec passes, typename L::Vec zeta, typename L::Vec *unlimited) {
  using Vec = typename L::Vec;
  const Vec shorter = L::set(1 - 1e-12), longer = L::set(1 + 1e-12);
  const Vec eta = L::set(r.eta);
  // How far past the threshold, less the last pass's own rounding.
  const Vec d = L::mul(L::sub(L::sub(L::mul(L::sqrt(beyond), shorter), threshold), eta), shorter);
  // (r + rounding)^2 within e^2 / P before the last pass.
  const Vec bound = L::mul(
      L::div(L::mul(d, d), L::mul(L::mul(L::add(lastQ, d), L::set(4)), lastProduct)),
      L::mul(shorter, shorter));
  // The rounding's square, times the least product.
  const Vec before = L::sub(passes, L::set(1));
  const Vec rounding = L::mul(L::mul(L::mul(before, before), L::mul(eta, eta)), longer);
  // The reach, not a number where d is negative or not a number.
  *unlimited = L::sqrt(L::select(L::below(L::set(0), d), bound, L::set(-1)));
  const Vec capped = L::min(L::mul(*unlimited, shorter), zeta);
  // Not a number where the rounding is too large: no reach.
  const uint32_t small =
      L::below(rounding, L::mul(L::mul(L::mul(capped, capped), L::set(1e-6)), least));
  return L::select(small, L::mul(capped, L::set(1 - 2e-3)), L::set(-1));
}

// Levels after a probe that `reach` covers, as whole numbers in doubles:
// levelsWithin's count on every lane (truncation by the sum with 2^52, as
// plain x86-64 has no vector floor).
template <class L>
[[gnu::always_inline]] inline typename L::Vec levelsWithinLanes(const EscapeReach &r,
                                                                typename L::Vec reach) {
  using Vec = typename L::Vec;
  const Vec shorter = L::set(1 - 1e-12);
  const Vec room = L::mul(L::mul(L::sub(L::mul(reach, shorter), L::set(r.strays)),
                                 L::set(r.perLevelStep)),
                          shorter);
  // Not a number or short of a level: none; more than 2^30: 2^30.
  const Vec zero = L::set(0);
  const Vec most = L::min(L::select(L::below(zero, room), room, zero), L::set(1 << 30));
  const Vec big = L::set(0x1p52);
  const Vec nearest = L::sub(L::add(most, big), big);
  return L::select(L::below(most, nearest), L::sub(nearest, L::set(1)), nearest);
}

// zeta for a ray's next probe after one whose unlimited reach was `last`.
// The reach a zeta allows shrinks as zeta grows (through the products), so
// the best zeta is the one that allows itself: a tenth above the last
// probe's approaches it from either side within a few probes, and took
// the fewest probes of the factors tried (from 1.05 to 4). Within a
// level's step and the whole ray.
template <class L>
[[gnu::always_inline]] inline typename L::Vec nextZeta(const EscapeReach &r,
                                                       typename L::Vec last) {
  using Vec = typename L::Vec;
  const Vec wider = L::mul(last, L::set(1.1));
  const Vec least = L::set(2 * r.levelStep);
  // Not a number or short: the least; long: the whole ray.
  const Vec atLeast = L::select(L::below(least, wider), wider, least);
  return L::min(atLeast, L::set(r.longestReach));
}

}  // namespace quatdepth
