#pragma once

// The membership of a batch of arbitrary points, in lanes: written once
// over a lane type L and included only by the per-ISA source files.
//
// Points go through in blocks: a block is turned about the view's centre
// a vector at a time, with the scalar turn's operations in its order, and
// its points that start beyond the escape bound are answered outside on
// the way (escape_bound.h). The others wait for the long-probe pool
// (long_probe_pool.h), a lane a point: inside points run to the cap while
// most outside ones escape within a few passes, so a lane that ends is
// refilled from the waiting points, and the pool's vectors are independent
// chains that keep the floating-point units busy. The pool's passes are
// the searches' (the sure-escape test, cycles found at high caps), each
// the scalar test's operations in its order, so every answer is
// isInsideJulia's bit for bit.

#include <cstdint>
#include <limits>

#include "julia/escape_bound.h"
#include "julia/long_probe_pool.h"
#include "julia/row_constants.h"
#include "julia/vector_paths.h"
#include "julia/vector_search.h"
#include "settings/render_settings.h"

namespace quatdepth::point_membership {

using vector_search::lowLanes;
using vector_search::RowConstants;

// Points turned at a time: a few kilobytes on the stack.
constexpr int32_t kBlockPoints = 128;
// The pool runs on until this share of its lanes have escaped (or one
// reaches the cap): half, where the row search's pool waits for a third.
// A refill costs more than a pass, and a point's lane is refilled straight
// from the turned points, with no pixel's state to move on (docs/speed.md
// has the measurements).
constexpr int kRefillFraction = 2;

// The view's constants for the turn and for the passes. Only the fields
// the pool's passes read are set besides the turn's.
template <class L>
struct PointConstants {
  using Vec = typename L::Vec;
  RowConstants<L> passes;
  Vec minusSinB;  // (-px) x sinB is px x (-sinB), to the bit
  Vec wSquared, startBound;
};

template <class L>
PointConstants<L> pointConstants(const RenderSettings *s,
                                 const EscapeBounds &bounds) {
  PointConstants<L> p;
  RowConstants<L> &k = p.passes;
  k.sinA = L::set(s->sinA), k.cosA = L::set(s->cosA);
  k.sinB = L::set(s->sinB), k.cosB = L::set(s->cosB);
  k.sinC = L::set(s->sinC), k.cosC = L::set(s->cosC);
  k.centreX = L::set(s->centreX);
  k.centreY = L::set(s->centreY);
  k.centreZ = L::set(s->centreZ);
  k.c0 = L::set(s->juliaC[0]), k.c1 = L::set(s->juliaC[1]);
  k.c2 = L::set(s->juliaC[2]), k.c3 = L::set(s->juliaC[3]);
  k.wSlice = L::set(s->wSlice);
  k.bailout = L::set(static_cast<double>(s->bailout));
  k.maxPasses = s->maxIterations < 1 ? 1 : s->maxIterations;
  k.sureEscape = L::set(bounds.sureNorm);
  k.sureUntil = sureEscapeUntil(s, bounds.sureNorm);
  k.levels = nullptr;
  k.rowTerms = nullptr;
  p.minusSinB = L::set(-s->sinB);
  p.wSquared = L::set(s->wSlice * s->wSlice);
  p.startBound = L::set(bounds.startNormSquared);
  return p;
}

// rotateAboutCentre on every lane, its operations in its order.
template <class L>
[[gnu::always_inline]] inline void turn(const PointConstants<L> &p, typename L::Vec *x,
                                        typename L::Vec *y, typename L::Vec *z) {
  using Vec = typename L::Vec;
  const RowConstants<L> &k = p.passes;
  const Vec px = L::sub(*x, k.centreX);
  const Vec py = L::sub(*y, k.centreY);
  const Vec pz = L::sub(*z, k.centreZ);
  const Vec y1 = L::sub(L::mul(py, k.cosA), L::mul(pz, k.sinA));
  const Vec z1 = L::add(L::mul(py, k.sinA), L::mul(pz, k.cosA));
  const Vec x1 = L::add(L::mul(px, k.cosB), L::mul(z1, k.sinB));
  const Vec z2 = L::add(L::mul(px, p.minusSinB), L::mul(z1, k.cosB));
  const Vec x2 = L::sub(L::mul(x1, k.cosC), L::mul(y1, k.sinC));
  const Vec y2 = L::add(L::mul(x1, k.sinC), L::mul(y1, k.cosC));
  *x = L::add(k.centreX, x2);
  *y = L::add(k.centreY, y2);
  *z = L::add(k.centreZ, z2);
}

// Turned points that wait for the pool, and where they came from.
struct WaitingPoints {
  alignas(64) double x[kBlockPoints], y[kBlockPoints], z[kBlockPoints];
  int32_t index[kBlockPoints];
  int32_t count = 0, next = 0;
  bool empty() const { return next == count; }
};

// Turns points first .. first + n - 1 (n at most kBlockPoints) into
// `waiting`, in order; those beyond the escape bound are answered outside.
template <class L>
void turnBlock(const PointConstants<L> &p, const double *x, const double *y, const double *z,
               int32_t first, int32_t n, uint8_t *inside, WaitingPoints *waiting) {
  using Vec = typename L::Vec;
  constexpr int kLanes = L::kLanes;
  waiting->count = 0;
  waiting->next = 0;
  for (int32_t at = 0; at < n; at += kLanes) {
    const int32_t lanes = n - at < kLanes ? n - at : kLanes;
    Vec vx, vy, vz;
    if (lanes == kLanes) {
      vx = L::load(x + first + at), vy = L::load(y + first + at), vz = L::load(z + first + at);
    } else {
      // The last few points of all: no reading past the caller's arrays.
      double tx[kLanes] = {}, ty[kLanes] = {}, tz[kLanes] = {};
      for (int32_t i = 0; i < lanes; ++i)
        tx[i] = x[first + at + i], ty[i] = y[first + at + i], tz[i] = z[first + at + i];
      vx = L::load(tx), vy = L::load(ty), vz = L::load(tz);
    }
    turn(p, &vx, &vy, &vz);
    // surelyEscapes, lane by lane.
    const Vec norm =
        L::add(L::add(L::add(L::mul(vx, vx), L::mul(vy, vy)), L::mul(vz, vz)), p.wSquared);
    const uint32_t within = L::below(norm, p.startBound);
    alignas(64) double tx[kLanes], ty[kLanes], tz[kLanes];
    L::store(tx, vx), L::store(ty, vy), L::store(tz, vz);
    for (int32_t i = 0; i < lanes; ++i) {
      const int32_t point = first + at + i;
      if ((within >> i) & 1) {
        const int32_t w = waiting->count++;
        waiting->x[w] = tx[i], waiting->y[w] = ty[i], waiting->z[w] = tz[i];
        waiting->index[w] = point;
      } else {
        inside[point] = 0;
      }
    }
  }
}

// inside[i] for points 0 .. count - 1, as isInsideJulia answers for each
// point turned by rotateAboutCentre, on V vectors of pool lanes.
template <class L, int V, bool kKeepSquares>
void findPointsInside(const RenderSettings *s, const EscapeBounds &bounds,
                      const double *x, const double *y, const double *z,
                      int32_t count, uint8_t *inside) {
  using vector_search::pooled::Pool;
  constexpr int kLanes = Pool<L, V>::kLanes;
  constexpr int kRefillAt = kLanes / kRefillFraction > 1 ? kLanes / kRefillFraction : 1;
  if (count <= 0) return;
  const PointConstants<L> p = pointConstants<L>(s, bounds);
  const RowConstants<L> &k = p.passes;
  const bool cycles = k.maxPasses >= vector_search::pooled::kCycleSearchFrom;
  Pool<L, V> pool{};
  WaitingPoints waiting;
  int32_t turned = 0;  // points turned so far
  vector_search::NoCounts none;
  for (;;) {
    for (uint32_t free = pool.freeLanes(); free; free &= free - 1) {
      if (waiting.empty()) {
        // Blocks whose points all start beyond the bound give none.
        while (waiting.empty() && turned < count) {
          const int32_t n = count - turned < kBlockPoints ? count - turned : kBlockPoints;
          turnBlock(p, x, y, z, turned, n, inside, &waiting);
          turned += n;
        }
        if (waiting.empty()) break;
      }
      const int lane = __builtin_ctz(free);
      const int32_t w = waiting.next++;
      pool.a[lane] = waiting.x[w], pool.b[lane] = waiting.y[w];
      pool.c[lane] = waiting.z[w], pool.d[lane] = s->wSlice;
      pool.slot[lane] = waiting.index[w];
      pool.remaining[lane] = k.maxPasses;
      // Nothing kept for this point yet: the last lane's is no longer its.
      pool.keptA[lane] = std::numeric_limits<double>::quiet_NaN();
      pool.busy |= 1u << lane;
    }
    if (!pool.busy) return;
    // With no point left to take a freed lane, the pool runs until every
    // lane has ended.
    const bool more = !waiting.empty() || turned < count;
    const int refillAt = more ? kRefillAt : __builtin_popcount(pool.busy);
    uint32_t capped = 0;
    const uint32_t escaped = vector_search::pooled::runPool<L, V, kKeepSquares>(
        k, &pool, refillAt, cycles, &capped, &none);
    for (uint32_t ended = escaped | capped; ended; ended &= ended - 1) {
      const int lane = __builtin_ctz(ended);
      pool.busy &= ~(1u << lane);
      inside[pool.slot[lane]] = static_cast<uint8_t>((capped >> lane) & 1);
    }
  }
}

// The same with a search shape's pool.
template <class L, SearchShape kShape>
void findPointsInsideShaped(const RenderSettings *s, const EscapeBounds &bounds,
                            const double *x, const double *y, const double *z,
                            int32_t count, uint8_t *inside) {
  findPointsInside<L, kShape.poolVectors, kShape.poolKeepsSquares>(
      s, bounds, x, y, z, count, inside);
}

}  // namespace quatdepth::point_membership
