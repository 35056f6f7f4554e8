#pragma once

// The nearest-level search on vector lanes, written once over a lane type
// L and included only by the per-ISA source files (see vector_search.h).
//
// A pixel's probes depend on each other (each one's reach says where the
// next goes), so the lanes hold different pixels of the row: each lane
// runs one probe of its pixel, all lanes pass by pass together until none
// is live, and then each lane moves on by its probe's reach, or to the
// row's next pixel once its own is answered. The lanes are V vectors, so
// that V independent chains of operations keep the floating-point units
// busy: one vector's pass waits on its own latency. Every probe's start and
// passes are the scalar test's operations in its order, and a level is
// skipped only where its reach proves it outside, so the depths are the
// scalar search's bit for bit, whatever the reaches come to.
//
// Passes short of the cap by kSureEscapePasses stop a probe once its new
// quaternion is four times the sure-escape norm (twice its root: a
// reach needs room past the threshold, and any probe beyond it is out);
// the last passes take the bailout test as the scalar one does.

#include <algorithm>
#include <cstdint>

#include "julia/escape_reach.h"
#include "julia/row_constants.h"
#include "julia/row_pixels.h"
#include "julia/search_stats.h"
#include "julia/vector_search.h"
#include "settings/render_settings.h"

namespace quatdepth::vector_search::nearest {

// Each lane's pixel and where its ray stands, lane v x kLanes + i being
// lane i of vector v. The vectors stay in registers from round to round;
// a lane that takes a new pixel goes through the arrays.
template <class L, int V>
struct LaneRays {
  typename L::Vec level[V];      // the level each lane probes next
  typename L::Vec lastLevel[V];  // its ray's last level that may be inside
  typename L::Vec xCosB[V], minusXSinB[V];
  typename L::Vec zeta[V];       // the reach its next probe may prove at most
};

// What each lane's probe left when it stopped.
template <class L>
struct Stops {
  typename L::Vec beyond, threshold, lastQ, lastProduct, least, passes;
};

template <class L>
[[gnu::always_inline]] inline typename L::Vec normOf(const PartSquares<L> &p) {
  return L::add(L::add(L::add(p.a, p.b), p.c), p.d);
}

// One probe a lane, in flight.
template <class L>
struct Probes {
  typename L::Vec a, b, c, d;
  PartSquares<L> parts;
  typename L::Vec q;  // |q|^2 of the quaternion, from parts
  typename L::Vec product, least, zetaTerm;
};

// The start of each lane's probe: the scalar search's coordinate and
// rotation steps, with the lane's own level and pixel.
template <class L>
[[gnu::always_inline]] inline Probes<L> startProbes(const RowConstants<L> &k,
                                                    const EscapeReach &r,
                                                    typename L::Vec level,
                                                    typename L::Vec xCosB,
                                                    typename L::Vec minusXSinB,
                                                    typename L::Vec zeta) {
  using Vec = typename L::Vec;
  const Vec z = L::add(k.zMin, L::mul(k.zSpan, L::div(level, k.levelCount)));
  const Vec pz = L::sub(z, k.centreZ);
  const Vec y1 = L::sub(k.yCosA, L::mul(pz, k.sinA));
  const Vec z1 = L::add(k.ySinA, L::mul(pz, k.cosA));
  const Vec x1 = L::add(xCosB, L::mul(z1, k.sinB));
  const Vec z2 = L::add(minusXSinB, L::mul(z1, k.cosB));
  const Vec x2 = L::sub(L::mul(x1, k.cosC), L::mul(y1, k.sinC));
  const Vec y2 = L::add(L::mul(x1, k.sinC), L::mul(y1, k.cosC));
  Probes<L> p;
  p.a = L::add(k.centreX, x2);
  p.b = L::add(k.centreY, y2);
  p.c = L::add(k.centreZ, z2);
  p.d = k.wSlice;
  p.parts = partSquares<L>(p.a, p.b, p.c, p.d);
  p.q = normOf(p.parts);
  p.product = p.least = L::set(1);
  p.zetaTerm = L::mul(L::mul(zeta, zeta), L::set(r.nonlinear));
  return p;
}

// One pass of one vector, keeping the deviation product. Returns the lanes
// that stay live; a lane that stops leaves its stop in `stops`.
template <class L, bool kSure>
[[gnu::always_inline]] inline uint32_t passProbes(const RowConstants<L> &k,
                                                  const EscapeReach &r, int32_t pass,
                                                  uint32_t live, Probes<L> *p,
                                                  Stops<L> *stops) {
  using Vec = typename L::Vec;
  const Vec lastProduct = p->product;
  growDeviation<L>(L::set(r.grow), p->q, p->zetaTerm, &p->product, &p->least);
  const Square<L> s = square<L>(p->a, p->b, p->c, p->d, p->parts);
  p->a = L::add(s.a, k.c0);
  p->b = L::add(s.b, k.c1);
  p->c = L::add(s.c, k.c2);
  p->d = L::add(s.d, k.c3);
  const Vec lastQ = p->q;
  p->parts = partSquares<L>(p->a, p->b, p->c, p->d);
  p->q = normOf(p->parts);
  Vec beyond, threshold;
  uint32_t below;
  if constexpr (kSure) {
    beyond = p->q, threshold = L::set(r.sureRoot);
    below = L::below(p->q, L::set(r.stopNorm));
  } else {
    // Escape is judged on the square, before the constant is added.
    beyond = L::add(L::add(L::add(L::mul(s.a, s.a), L::mul(s.b, s.b)), L::mul(s.c, s.c)),
                    L::mul(s.d, s.d));
    threshold = L::set(r.bailoutRoot);
    below = L::below(beyond, k.bailout);
  }
  const uint32_t stopped = live & ~below;
  if (stopped) [[unlikely]] {
    stops->beyond = L::select(stopped, beyond, stops->beyond);
    stops->threshold = L::select(stopped, threshold, stops->threshold);
    stops->lastQ = L::select(stopped, lastQ, stops->lastQ);
    stops->lastProduct = L::select(stopped, lastProduct, stops->lastProduct);
    stops->least = L::select(stopped, p->least, stops->least);
    stops->passes = L::select(stopped, L::set(pass + 1), stops->passes);
  }
  return live & below;
}

// One round: every lane with a pixel probes its level. Returns the lanes
// still inside at the cap (bit v x kLanes + i); fills the stops of the
// others, and *startsWithin with the lanes whose start is within the norm
// the reach's rounding allows for.
template <class L, int V, bool kCounting>
[[gnu::always_inline]] inline uint32_t runRound(const RowConstants<L> &k, const EscapeReach &r,
                                                const LaneRays<L, V> &rays, uint32_t valid,
                                                Stops<L> *stops, uint32_t *startsWithin,
                                                SearchStats *stats) {
  const uint32_t kVectorLanes = lowLanes(L::kLanes);
  Probes<L> p[V];
  uint32_t live[V], within = 0;
  for (int v = 0; v < V; ++v) {
    p[v] = startProbes<L>(k, r, rays.level[v], rays.xCosB[v], rays.minusXSinB[v], rays.zeta[v]);
    live[v] = (valid >> (v * L::kLanes)) & kVectorLanes;
    within |= L::below(p[v].q, L::set(r.largestStart)) << (v * L::kLanes);
  }
  *startsWithin = within;
  for (int32_t pass = 0;; ++pass) {
    uint32_t any = 0;
    if (pass < k.sureUntil) {
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v)
        if (live[v]) any |= live[v] = passProbes<L, true>(k, r, pass, live[v], &p[v], &stops[v]);
    } else {
#pragma GCC unroll 4
      for (int v = 0; v < V; ++v)
        if (live[v]) any |= live[v] = passProbes<L, false>(k, r, pass, live[v], &p[v], &stops[v]);
    }
    if constexpr (kCounting) {
      stats->laneSlots += V * L::kLanes;
      for (int v = 0; v < V; ++v) stats->activeIterations += __builtin_popcount(live[v]);
    }
    if (!any) return 0;
    if (pass + 1 >= k.maxPasses) {
      uint32_t inside = 0;
      for (int v = 0; v < V; ++v) inside |= live[v] << (v * L::kLanes);
      return inside;
    }
  }
}

// One row: each lane takes the row's pixels in turn and probes along its
// ray from the first level its escape bound allows, until a probe is
// inside or the ray's last level is passed.
template <class L, int V, bool kCounting>
void findRowNearestDepths(const RenderSettings *s, SearchTables tables, int32_t rowIndex,
                          int32_t *depths, SearchStats *stats) {
  using Vec = typename L::Vec;
  constexpr int kAllLanes = V * L::kLanes;
  static_assert(kAllLanes <= 32);
  const RowConstants<L> k = rowConstants<L>(s, tables, rowIndex);
  if (!(s->bailout > 0)) {  // every square's norm reaches it
    for (int32_t column = 0; column < s->width; ++column) depths[column] = -1;
    return;
  }
  const EscapeReach r = escapeReach(
      s, tables.levels ? tables.levels->sureEscapeNorm : sureEscapeNorm(s));
  RowPixels<L> pixels(k);
  LaneRays<L, V> rays;
  int32_t column[kAllLanes];  // -1: no pixel left for the lane
  double level[kAllLanes], lastLevel[kAllLanes], xCosB[kAllLanes], minusXSinB[kAllLanes],
      zeta[kAllLanes];
  // Gives `lane` the next pixel whose ray may meet the set; the others
  // get -1 at once. Works on the arrays.
  auto takePixel = [&](int lane) {
    for (RowPixel pixel; pixels.next(&pixel);) {
      const int64_t first = int64_t{pixel.span.first} * k.fineSteps;
      const int64_t last =
          std::min<int64_t>(int64_t{pixel.span.last} * k.fineSteps, k.depthLevels);
      if (first > last) {
        depths[pixel.column] = -1;
        continue;
      }
      column[lane] = pixel.column;
      level[lane] = static_cast<double>(first);
      lastLevel[lane] = static_cast<double>(last);
      xCosB[lane] = pixel.ray.xCosB;
      minusXSinB[lane] = pixel.ray.minusXSinB;
      zeta[lane] = r.longestReach;
      return;
    }
    column[lane] = -1;
    level[lane] = lastLevel[lane] = xCosB[lane] = minusXSinB[lane] = zeta[lane] = 0;
  };
  auto toArrays = [&] {
    for (int v = 0; v < V; ++v) {
      const int at = v * L::kLanes;
      L::store(level + at, rays.level[v]);
      L::store(lastLevel + at, rays.lastLevel[v]);
      L::store(xCosB + at, rays.xCosB[v]);
      L::store(minusXSinB + at, rays.minusXSinB[v]);
      L::store(zeta + at, rays.zeta[v]);
    }
  };
  auto fromArrays = [&] {
    for (int v = 0; v < V; ++v) {
      const int at = v * L::kLanes;
      rays.level[v] = L::load(level + at);
      rays.lastLevel[v] = L::load(lastLevel + at);
      rays.xCosB[v] = L::load(xCosB + at);
      rays.minusXSinB[v] = L::load(minusXSinB + at);
      rays.zeta[v] = L::load(zeta + at);
    }
  };
  uint32_t valid = 0;
  for (int lane = 0; lane < kAllLanes; ++lane) {
    takePixel(lane);
    valid |= static_cast<uint32_t>(column[lane] >= 0) << lane;
  }
  fromArrays();
  Stops<L> stops[V];
  for (int v = 0; v < V; ++v) {
    stops[v].beyond = stops[v].threshold = stops[v].lastQ = stops[v].least = L::set(0);
    stops[v].passes = L::set(0);
    stops[v].lastProduct = L::set(1);
  }
  while (valid) {
    if constexpr (kCounting) stats->probes += __builtin_popcount(valid), ++stats->groups;
    uint32_t startsWithin;
    const uint32_t inside =
        runRound<L, V, kCounting>(k, r, rays, valid, stops, &startsWithin, stats);
    uint32_t answered = 0;
    for (int v = 0; v < V; ++v) {
      const int at = v * L::kLanes;
      Vec unlimited;
      const Vec reach = reachOfEscape<L>(r, stops[v].beyond, stops[v].threshold,
                                         stops[v].lastQ, stops[v].lastProduct, stops[v].least,
                                         stops[v].passes, rays.zeta[v], &unlimited);
      // An escaped probe moves its ray on past the levels its reach covers.
      const Vec skipped =
          L::select(startsWithin >> at, levelsWithinLanes<L>(r, reach), L::set(0));
      const Vec next = L::add(rays.level[v], L::add(skipped, L::set(1)));
      rays.level[v] = L::select(inside >> at, rays.level[v], next);
      rays.zeta[v] = nextZeta<L>(r, unlimited);
      answered |= L::below(rays.lastLevel[v], rays.level[v]) << at;
    }
    answered = valid & (answered | inside);
    if (!answered) continue;
    toArrays();
    for (uint32_t lanes = answered; lanes; lanes &= lanes - 1) {
      const int lane = __builtin_ctz(lanes);
      depths[column[lane]] = (inside >> lane) & 1 ? static_cast<int32_t>(level[lane]) : -1;
      takePixel(lane);
      if (column[lane] < 0) valid &= ~(1u << lane);
    }
    fromArrays();
  }
}

// Runs the search for one row on V vectors of lanes, with statistics when
// `stats` is given.
template <class L, int V>
void runNearestSearch(const RenderSettings *s, SearchTables tables, int32_t row,
                      int32_t *depths, SearchStats *stats) {
  if (stats) {
    stats->laneWidth = L::kLanes;
    findRowNearestDepths<L, V, true>(s, tables, row, depths, stats);
  } else {
    findRowNearestDepths<L, V, false>(s, tables, row, depths, nullptr);
  }
}

}  // namespace quatdepth::vector_search::nearest
