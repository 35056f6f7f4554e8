#pragma once

// The vectorised depth search, written once over a lane type L (one per
// instruction set) and included only by the per-ISA source files, each of
// which builds it with its own compiler flags. Everything here is a template
// on L or always inlined, so no code is shared between instruction sets.
// The helpers in vector_search (a row's constants and pixels, a pixel's
// sequences of levels in pixel_steps.h, their starting points, the passes,
// the statistics) serve every vector search: the grouped one below
// (vector_search::grouped), the pooled one (long_probe_pool.h) and the
// nearest-level one (nearest_vector_search.h), each in a namespace of its
// own within.
//
// The grouped search takes one pixel at a time. Its probes go in groups of
// V vectors (V x kLanes neighbouring levels of a sequence), and a group
// runs its passes in a plain loop that leaves when no lane is live any
// more or at the cap. The V vectors are independent chains, enough to keep
// the floating-point units busy, and a pass costs little beyond its
// arithmetic; what a group pays is one hard-to-predict loop exit, and
// lanes that escaped early waiting for the slowest of their group.
//
// Levels go into groups in increasing order, so the first group with an
// inside lane holds the first inside level of its sequence: its lowest
// inside lane. The coarse sequence (0, fineSteps, ...) finds the coarse hit
// this way; the refinement sequence (the levels between the previous coarse
// probe and the coarse hit, near side first) then finds the smallest inside
// level among them, the same answer the scalar reference reaches by testing
// all of them. Every coordinate and every pass uses the operations of the
// scalar reference in the same order, so the depths match it bit for bit.

#include <cstdint>

#include "julia/depth_search.h"
#include "julia/level_tables.h"
#include "julia/pixel_steps.h"
#include "julia/row_constants.h"
#include "julia/row_pixels.h"
#include "julia/search_stats.h"
#include "julia/vector_paths.h"
#include "settings/render_settings.h"

namespace quatdepth::vector_search {

// Starting points of the V x kLanes levels from position `at` of a
// sequence, vector v holding positions at + v x kLanes onwards.
template <class L, int V>
struct GroupStart {
  typename L::Vec a[V], b[V], c[V];
};

// The starting points of one vector's levels: the same coordinate and
// rotation steps as the scalar search, lane by lane.
template <class L>
[[gnu::always_inline]] inline void startingPoints(const RowConstants<L> &k, PixelRay ray,
                                                  const Sequence &seq, int32_t at,
                                                  typename L::Vec *a, typename L::Vec *b,
                                                  typename L::Vec *c) {
  using Vec = typename L::Vec;
  Vec x1, z2, y1SinC, y1CosC;
  if (k.rowTerms && seq.coarse) [[likely]] {
    // The row's terms of the coarse levels are ready, by position.
    x1 = L::add(L::set(ray.xCosB), L::load(k.rowTerms->z1SinB + at));
    z2 = L::add(L::set(ray.minusXSinB), L::load(k.rowTerms->z1CosB + at));
    y1SinC = L::load(k.rowTerms->y1SinC + at);
    y1CosC = L::load(k.rowTerms->y1CosC + at);
  } else {
    const int32_t first = seq.first + at * seq.step;
    Vec pzSinA, pzCosA;  // the levels' offsets from the centre, times sin, cos A
    if (k.levels) {
      // Coarse levels are a step apart in the fine tables: theirs are by
      // position. Any other sequence is consecutive levels.
      pzSinA = L::load(seq.coarse ? k.levels->coarseSinA + at : k.levels->sinA + first);
      pzCosA = L::load(seq.coarse ? k.levels->coarseCosA + at : k.levels->cosA + first);
    } else {
      Vec level = L::add(L::set(static_cast<double>(first)),
                         L::mul(L::laneIndex(), L::set(static_cast<double>(seq.step))));
      Vec z = L::add(k.zMin, L::mul(k.zSpan, L::div(level, k.levelCount)));
      Vec pz = L::sub(z, k.centreZ);
      pzSinA = L::mul(pz, k.sinA);
      pzCosA = L::mul(pz, k.cosA);
    }
    Vec y1 = L::sub(k.yCosA, pzSinA);
    Vec z1 = L::add(k.ySinA, pzCosA);
    x1 = L::add(L::set(ray.xCosB), L::mul(z1, k.sinB));
    z2 = L::add(L::set(ray.minusXSinB), L::mul(z1, k.cosB));
    y1SinC = L::mul(y1, k.sinC);
    y1CosC = L::mul(y1, k.cosC);
  }
  Vec x2 = L::sub(L::mul(x1, k.cosC), y1SinC);
  Vec y2 = L::add(L::mul(x1, k.sinC), y1CosC);
  *a = L::add(k.centreX, x2);
  *b = L::add(k.centreY, y2);
  *c = L::add(k.centreZ, z2);
}

template <class L, int V>
[[gnu::always_inline]] inline GroupStart<L, V> groupStart(const RowConstants<L> &k,
                                                          PixelRay ray, const Sequence &seq,
                                                          int32_t at) {
  GroupStart<L, V> g;
  for (int v = 0; v < V; ++v)
    startingPoints(k, ray, seq, at + v * L::kLanes, &g.a[v], &g.b[v], &g.c[v]);
  return g;
}

[[gnu::always_inline]] inline uint32_t lowLanes(int32_t count) {
  return count >= 32 ? ~0u : (1u << count) - 1u;
}

// Statistics are kept apart from the search: it calls these at each pass
// and at the end of each group, and they compile to nothing unless counted.
struct NoCounts {
  static constexpr bool kCounting = false;
  void pass(uint32_t, int) {}
  void group(uint32_t, uint32_t) {}
  void poolPasses(uint32_t, int32_t, int) {}
  void poolProbe(int32_t, int32_t) {}
};

struct LaneCounts {
  static constexpr bool kCounting = true;
  SearchStats *stats;
  int32_t lanePasses[32] = {};  // passes each lane of the group was live for

  void pass(uint32_t live, int laneSlots) {
    stats->laneSlots += laneSlots;
    stats->activeIterations += __builtin_popcount(live);
    for (int lane = 0; lane < 32; ++lane) lanePasses[lane] += (live >> lane) & 1;
  }
  // Lanes past the first inside one were speculative: the answer did not
  // need them.
  void group(uint32_t valid, uint32_t inside) {
    const uint32_t needed =
        inside ? lowLanes(__builtin_ctz(inside) + 1) & valid : valid;
    stats->groups += 1;
    stats->probes += __builtin_popcount(valid);
    for (int lane = 0; lane < 32; ++lane) {
      if ((needed >> lane) & 1) stats->usefulIterations += lanePasses[lane];
      lanePasses[lane] = 0;
    }
  }
  // The long-probe pool: `passes` passes of `lanes` lanes, `busy` of them
  // in use. Each probe there is needed (the lowest of its pixel's pending
  // ones), and so were its `shortPasses` before it came, where its group
  // did not count them.
  void poolPasses(uint32_t busy, int32_t passes, int lanes) {
    stats->laneSlots += int64_t{passes} * lanes;
    stats->activeIterations += int64_t{passes} * __builtin_popcount(busy);
  }
  void poolProbe(int32_t passes, int32_t shortPasses) {
    stats->usefulIterations += passes + shortPasses;
  }
};

// The square of the quaternion (a, b, c, d) on every lane, with the
// scalar test's operations in its order.
template <class L>
struct Square {
  typename L::Vec a, b, c, d;
};

// The squares of a quaternion's parts, a x a, b x b, c x c and d x d: the
// square of the quaternion starts from them, and so does its norm.
template <class L>
struct PartSquares {
  typename L::Vec a, b, c, d;
};

template <class L>
[[gnu::always_inline]] inline PartSquares<L> partSquares(typename L::Vec a, typename L::Vec b,
                                                         typename L::Vec c, typename L::Vec d) {
  return {L::mul(a, a), L::mul(b, b), L::mul(c, c), L::mul(d, d)};
}

template <class L>
[[gnu::always_inline]] inline Square<L> square(typename L::Vec a, typename L::Vec b,
                                               typename L::Vec c, typename L::Vec d,
                                               const PartSquares<L> &p) {
  const typename L::Vec t = L::add(a, a);
  return {L::sub(L::sub(L::sub(p.a, p.b), p.c), p.d), L::mul(t, b), L::mul(t, c), L::mul(t, d)};
}

// One pass of q -> q^2 + c on every lane of one vector, exactly as the
// scalar test does, from the squares of q's parts. Returns the square,
// for a test on it.
template <class L>
[[gnu::always_inline]] inline Square<L> advance(const RowConstants<L> &k, typename L::Vec *a,
                                                typename L::Vec *b, typename L::Vec *c,
                                                typename L::Vec *d, const PartSquares<L> &p) {
  const Square<L> q = square<L>(*a, *b, *c, *d, p);
  *a = L::add(q.a, k.c0);
  *b = L::add(q.b, k.c1);
  *c = L::add(q.c, k.c2);
  *d = L::add(q.d, k.c3);
  return q;
}

template <class L>
[[gnu::always_inline]] inline Square<L> advance(const RowConstants<L> &k, typename L::Vec *a,
                                                typename L::Vec *b, typename L::Vec *c,
                                                typename L::Vec *d) {
  return advance(k, a, b, c, d, partSquares<L>(*a, *b, *c, *d));
}

// The pass with the scalar test's bailout test. Returns the lanes whose
// square stays below the bailout (false when it is not a number).
template <class L>
[[gnu::always_inline]] inline uint32_t passVector(const RowConstants<L> &k, typename L::Vec *a,
                                                  typename L::Vec *b, typename L::Vec *c,
                                                  typename L::Vec *d) {
  const Square<L> q = advance(k, a, b, c, d);
  // Escape is judged on the square, before the constant is added.
  const typename L::Vec n =
      L::add(L::add(L::add(L::mul(q.a, q.a), L::mul(q.b, q.b)), L::mul(q.c, q.c)),
             L::mul(q.d, q.d));
  return L::below(n, k.bailout);
}

// The lanes whose quaternion, with parts squared `p`, is short of the
// sure-escape norm. Summed with a last: the new a is ready last, and a
// group's exit waits on this test. (The norm allows for any order.)
template <class L>
[[gnu::always_inline]] inline uint32_t belowSureEscape(const RowConstants<L> &k,
                                                       const PartSquares<L> &p) {
  return L::below(L::add(L::add(L::add(p.b, p.c), p.d), p.a), k.sureEscape);
}

// Of the passes before sureUntil, all of the first two take the test (most
// probes end in them) and from then on every other one. A pass without it
// costs two thirds of one with it, and a quaternion beyond the norm stays
// beyond it, so the next test stops the probe as surely, a pass later.
[[gnu::always_inline]] constexpr bool untestedPass(int32_t pass) {
  return pass >= 2 && (pass & 1) == 0;
}

// A pass that takes no test, on V vectors; with kKeepSquares, from the
// squares of the quaternions' parts the tested pass before it left.
template <class L, int V, bool kKeepSquares = false>
[[gnu::always_inline]] inline void untestedPassVectors(const RowConstants<L> &k,
                                                       typename L::Vec *a, typename L::Vec *b,
                                                       typename L::Vec *c, typename L::Vec *d,
                                                       const PartSquares<L> *squares = nullptr) {
#pragma GCC unroll 8
  for (int v = 0; v < V; ++v) {
    if constexpr (kKeepSquares)
      advance(k, &a[v], &b[v], &c[v], &d[v], squares[v]);
    else
      advance(k, &a[v], &b[v], &c[v], &d[v]);
  }
}

// A pass judged on the new quaternion (see passVectors), on V vectors:
// the lanes short of the sure-escape norm, bit v x kLanes + lane. With
// kKeepSquares it leaves the squares of the new quaternion's parts in
// `squares`, for the untested pass after it.
template <class L, int V, bool kKeepSquares = false>
[[gnu::always_inline]] inline uint32_t surePassVectors(const RowConstants<L> &k,
                                                       typename L::Vec *a, typename L::Vec *b,
                                                       typename L::Vec *c, typename L::Vec *d,
                                                       PartSquares<L> *squares = nullptr) {
  uint32_t below = 0;
#pragma GCC unroll 8
  for (int v = 0; v < V; ++v) {
    advance(k, &a[v], &b[v], &c[v], &d[v]);
    const PartSquares<L> p = partSquares<L>(a[v], b[v], c[v], d[v]);
    if constexpr (kKeepSquares) squares[v] = p;
    below |= belowSureEscape(k, p) << (v * L::kLanes);
  }
  return below;
}

// Pass number `pass` (counted from 0) of V vectors. While at least
// kSureEscapePasses passes follow it, the pass is judged on the new
// quaternion: the lanes short of the sure-escape norm. Every lane the
// bailout would stop is beyond that norm, and every lane beyond it escapes
// by the cap, so the answers stay the scalar test's while an escape is
// seen a pass or more sooner (and some passes take no test, see
// untestedPass). The last passes take the bailout test. Returns the lanes
// still live, bit v x kLanes + lane.
//
// With kKeepSquares, a tested pass leaves the squares of the new
// quaternion's parts in `squares` (one per vector) for the untested pass
// after it, which needs the same products. They must hold them whenever
// `pass` is untested: a loop that may start at such a pass sets them with
// startPartSquares, and from then on each tested pass leaves them, as
// every untested pass follows a tested one.
template <class L, int V, bool kKeepSquares = false>
[[gnu::always_inline]] inline uint32_t passVectors(const RowConstants<L> &k, int32_t pass,
                                                   typename L::Vec *a, typename L::Vec *b,
                                                   typename L::Vec *c, typename L::Vec *d,
                                                   PartSquares<L> *squares = nullptr) {
  if (pass < k.sureUntil) {
    if (untestedPass(pass)) {
      untestedPassVectors<L, V, kKeepSquares>(k, a, b, c, d, squares);
      return lowLanes(V * L::kLanes);
    }
    return surePassVectors<L, V, kKeepSquares>(k, a, b, c, d, squares);
  }
  uint32_t below = 0;
#pragma GCC unroll 8
  for (int v = 0; v < V; ++v)
    below |= passVector(k, &a[v], &b[v], &c[v], &d[v]) << (v * L::kLanes);
  return below;
}

template <class L, int V>
[[gnu::always_inline]] inline void startPartSquares(const RowConstants<L> &k, int32_t pass,
                                                    const typename L::Vec *a,
                                                    const typename L::Vec *b,
                                                    const typename L::Vec *c,
                                                    const typename L::Vec *d,
                                                    PartSquares<L> *squares) {
  if (pass < k.sureUntil && untestedPass(pass))
    for (int v = 0; v < V; ++v) squares[v] = partSquares<L>(a[v], b[v], c[v], d[v]);
}

// The grouped search, one pixel at a time.
namespace grouped {

// The lanes of a group still in flight: V vectors, lowest levels first,
// each remembering its place in the group.
template <class L, int V>
struct Chains {
  typename L::Vec a[V], b[V], c[V], d[V];
  int slot[V];
};

// `live` (bit v x kLanes + lane of the chains) as lanes of the group.
template <class L, int V>
[[gnu::always_inline]] inline uint32_t groupLanes(const Chains<L, V> &q, uint32_t live) {
  uint32_t lanes = 0;
  for (int v = 0; v < V; ++v)
    lanes |= ((live >> (v * L::kLanes)) & lowLanes(L::kLanes)) << (q.slot[v] * L::kLanes);
  return lanes;
}

// The chains without vector `dropped`, in the same order.
template <class L, int V>
[[gnu::always_inline]] inline Chains<L, V - 1> without(const Chains<L, V> &q, int dropped) {
  Chains<L, V - 1> r;
  for (int v = 0, w = 0; v < V; ++v) {
    if (v == dropped) continue;
    r.a[w] = q.a[v], r.b[w] = q.b[v], r.c[w] = q.c[v], r.d[w] = q.d[v];
    r.slot[w] = q.slot[v];
    ++w;
  }
  return r;
}

template <class L, int V>
[[gnu::always_inline]] inline Chains<L, 1> only(const Chains<L, V> &q, int kept) {
  Chains<L, 1> r;
  r.a[0] = q.a[kept], r.b[0] = q.b[kept], r.c[0] = q.c[kept], r.d[0] = q.d[kept];
  r.slot[0] = q.slot[kept];
  return r;
}

// `live` without the lanes of vector `dropped`, those above moving down.
[[gnu::always_inline]] inline uint32_t liveWithout(uint32_t live, int dropped, int lanes) {
  const uint64_t above = uint64_t{live} >> ((dropped + 1) * lanes);  // shifts up to 32
  return (live & lowLanes(dropped * lanes)) | static_cast<uint32_t>(above << (dropped * lanes));
}

// Runs the chains to their end, pass after pass, until no lane is live or
// the cap is reached.
// Returns the group's lanes still inside at the cap, or 0.
template <class L, SearchShape kShape, int V, class Counts>
[[gnu::always_inline]] inline uint32_t runChains(const RowConstants<L> &k, Chains<L, V> q,
                                                 uint32_t live, int32_t pass, Counts *counts) {
  for (;;) {
    if constexpr (Counts::kCounting) counts->pass(groupLanes(q, live), V * L::kLanes);
    const uint32_t below = passVectors<L, V>(k, pass, q.a, q.b, q.c, q.d);
    live &= below;
    if (!live) return 0;
    if (++pass >= k.maxPasses) return groupLanes(q, live);
    if constexpr (V > 1) {
      if (kShape.dropFrom > 0 && pass >= kShape.dropFrom) {
        // A vector whose lanes all escaped stops costing passes.
#pragma GCC unroll 8
        for (int v = 0; v < V; ++v)
          if (((live >> (v * L::kLanes)) & lowLanes(L::kLanes)) == 0) [[unlikely]]
            return runChains<L, kShape, V - 1>(k, without(q, v), liveWithout(live, v, L::kLanes),
                                       pass, counts);
      }
      const uint32_t lower = live & lowLanes((V - 1) * L::kLanes);
      if (kShape.deferFrom > 0 && pass >= kShape.deferFrom && lower) {
        // Lower lanes this long-lived are probably inside, and then the
        // top vector's levels do not matter: run it only if they escape.
        const uint32_t inside = runChains<L, kShape, V - 1>(k, without(q, V - 1), lower, pass, counts);
        if (inside) return inside;
        return runChains<L, kShape, 1>(k, only(q, V - 1), live >> ((V - 1) * L::kLanes), pass, counts);
      }
    }
  }
}

// Runs one group to its end. Returns the lanes inside at the cap (bit
// v x kLanes + lane), or 0.
template <class L, SearchShape kShape, int V, class Counts>
[[gnu::always_inline]] inline uint32_t runGroup(const RowConstants<L> &k,
                                                const GroupStart<L, V> &start,
                                                uint32_t valid, Counts *counts) {
  Chains<L, V> q;
  for (int v = 0; v < V; ++v) {
    q.a[v] = start.a[v];
    q.b[v] = start.b[v];
    q.c[v] = start.c[v];
    q.d[v] = k.wSlice;
    q.slot[v] = v;
  }
  return runChains<L, kShape, V>(k, q, valid, 0, counts);
}

// The first inside level of the sequence from position `from` on, or -1.
// The next group's starting points are computed before the current group
// runs, so they are ready when its loop exit is resolved.
template <class L, SearchShape kShape, int V, class Counts>
[[gnu::always_inline]] inline int32_t firstInsideLevel(const RowConstants<L> &k,
                                                       PixelRay ray, const Sequence &seq,
                                                       Counts *counts, int32_t from = 0) {
  constexpr int32_t kGroupLanes = V * L::kLanes;
  static_assert(kGroupLanes <= 32 && kGroupLanes <= kLevelTablePadding);
  if (from >= seq.length) return -1;
  GroupStart<L, V> current = groupStart<L, V>(k, ray, seq, from);
  for (int32_t at = from;; at += kGroupLanes) {
    const bool more = seq.length - at > kGroupLanes;
    GroupStart<L, V> next;
    if (more) next = groupStart<L, V>(k, ray, seq, at + kGroupLanes);
    const uint32_t valid = lowLanes(more ? kGroupLanes : seq.length - at);
    const uint32_t inside = runGroup<L, kShape, V>(k, current, valid, counts);
    counts->group(valid, inside);
    if (inside) [[unlikely]]
      return seq.first + (at + __builtin_ctz(inside)) * seq.step;
    if (!more) return -1;
    current = next;
  }
}

// One row: the coarse levels in groups of kShape.coarseVectors, then the
// levels before the coarse hit in groups of kShape.fineVectors.
template <class L, SearchShape kShape, class Counts>
void findRowDepths(const RenderSettings *s, SearchTables tables, int32_t rowIndex,
                   int32_t *depths, Counts *counts) {
  const RowConstants<L> k = rowConstants<L>(s, tables, rowIndex);
  if (k.rowTerms) fillRowTerms(k, k.coarseLevels);
  RowPixels<L> pixels(k);
  for (RowPixel pixel; pixels.next(&pixel);) {
    PixelSteps steps(k.fineSteps, pixel.span);
    const int32_t hit = firstInsideLevel<L, kShape, kShape.coarseVectors>(
        k, pixel.ray, steps.sequence(), counts, steps.from());
    int32_t depth = -1;
    if (!steps.settle(hit, &depth)) {
      // The refinement, which always settles.
      const int32_t nearer = firstInsideLevel<L, kShape, kShape.fineVectors>(
          k, pixel.ray, steps.sequence(), counts, steps.from());
      steps.settle(nearer, &depth);
    }
    depths[pixel.column] = depth;
  }
}

}  // namespace grouped

}  // namespace quatdepth::vector_search
