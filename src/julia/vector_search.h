#pragma once

// The vectorised depth search, written once over a lane type L (one per
// instruction set) and included only by the per-ISA source files, each of
// which builds it with its own compiler flags. Everything here is a template
// on L or always inlined, so no code is shared between instruction sets.
//
// A vector works on one pixel at a time, a group of probes at once: kLanes
// coarse levels (base, base + fineSteps, ...) or kLanes refinement levels in
// a row. All lanes of a group start together, so one scalar pass counter
// serves them, and a lane that escaped just keeps iterating until its group
// is done; only the mask of live lanes matters.
//
// The costly part of such a search is not the arithmetic but deciding, pass
// after pass, which group comes next: an unpredictable branch per group. So
// the coordinates of a pixel's next groups are computed ahead, a few groups
// at a time, into a small buffer, and on the pass a group ends its lanes
// take the next group's starting points through the masked adds that
// otherwise add the Julia constant. Branches are left only for rare events:
// an inside probe, or an empty buffer.
//
// Levels go into groups in increasing order, so the first group with an
// inside lane holds the first inside level of the sequence: its lowest
// inside lane. The coarse sequence (0, fineSteps, ...) finds the coarse hit
// this way; the refinement sequence (the levels between the previous coarse
// probe and the coarse hit, near side first) then finds the smallest inside
// level among them, the same answer the scalar reference reaches by testing
// all of them. Every
// coordinate and every pass uses the operations of the scalar reference in
// the same order, so the depths match it bit for bit.

#include <cstdint>

#include "julia/depth_search.h"
#include "julia/level_tables.h"
#include "julia/search_stats.h"
#include "settings/render_settings.h"

namespace quatdepth::vector_search {

// Everything about the view that is the same for every probe of a row.
template <class L>
struct RowConstants {
  using Vec = typename L::Vec;
  Vec zMin, zSpan, levelCount;
  Vec sinA, cosA, sinB, cosB, sinC, cosC;
  Vec centreX, centreY, centreZ;
  Vec yCosA, ySinA;  // the row's offset from the centre, turned by A
  Vec c0, c1, c2, c3, wSlice, bailout;
  int32_t depthLevels, fineSteps, maxPasses, width;
  double xMin, xMax, centreXScalar, cosBScalar, sinBScalar;
  const LevelTables *tables;
};

// The row's part of the rotation of every coarse level, for all pixels of
// the row: y1 and z1 (turned by A) times the sines and cosines of B and C.
template <class L>
void fillRowTables(const RowConstants<L> &k, int32_t coarseLevels) {
  using Vec = typename L::Vec;
  const LevelTables &t = *k.tables;
  for (int32_t j = 0; j < coarseLevels; j += L::kLanes) {
    Vec y1 = L::sub(k.yCosA, L::load(t.coarseSinA + j));
    Vec z1 = L::add(k.ySinA, L::load(t.coarseCosA + j));
    L::store(t.rowZ1SinB + j, L::mul(z1, k.sinB));
    L::store(t.rowZ1CosB + j, L::mul(z1, k.cosB));
    L::store(t.rowY1SinC + j, L::mul(y1, k.sinC));
    L::store(t.rowY1CosC + j, L::mul(y1, k.cosC));
  }
}

template <class L>
RowConstants<L> rowConstants(const RenderSettings *s, const LevelTables *tables,
                             int32_t row) {
  RowConstants<L> k;
  k.tables = tables && tables->sinA ? tables : nullptr;
  const double py = gridCoordinate(s->yMin, s->yMax, row, s->height) - s->centreY;
  k.zMin = L::set(s->zMin);
  k.zSpan = L::set(s->zMax - s->zMin);
  k.depthLevels = s->coarseSteps * s->fineSteps;
  k.levelCount = L::set(static_cast<double>(k.depthLevels));
  k.sinA = L::set(s->sinA), k.cosA = L::set(s->cosA);
  k.sinB = L::set(s->sinB), k.cosB = L::set(s->cosB);
  k.sinC = L::set(s->sinC), k.cosC = L::set(s->cosC);
  k.centreX = L::set(s->centreX);
  k.centreY = L::set(s->centreY);
  k.centreZ = L::set(s->centreZ);
  k.yCosA = L::set(py * s->cosA);
  k.ySinA = L::set(py * s->sinA);
  k.c0 = L::set(s->juliaC[0]), k.c1 = L::set(s->juliaC[1]);
  k.c2 = L::set(s->juliaC[2]), k.c3 = L::set(s->juliaC[3]);
  k.wSlice = L::set(s->wSlice);
  k.bailout = L::set(static_cast<double>(s->bailout));
  k.maxPasses = s->maxIterations < 1 ? 1 : s->maxIterations;
  k.fineSteps = s->fineSteps;
  k.width = s->width;
  k.xMin = s->xMin;
  k.xMax = s->xMax;
  k.centreXScalar = s->centreX;
  k.cosBScalar = s->cosB;
  k.sinBScalar = s->sinB;
  return k;
}

// Groups computed ahead per refill of the buffer: few when a sequence
// starts (a pixel near the set needs few), more once it is under way.
constexpr int kGroupsAhead = 16;
constexpr int kGroupsAtStart = 4;

// One group's starting points, as its lanes will load them.
template <class L>
struct GroupStart {
  alignas(64) double a[L::kLanes];
  alignas(64) double b[L::kLanes];
  alignas(64) double c[L::kLanes];
  uint32_t valid;  // lanes holding a real level
  int32_t base;    // level of lane 0
};

// One pixel's search: where its sequence of levels stands and the starting
// points of the next groups. The last entry is always padding: no valid
// lanes, coordinates that escape on the first pass.
template <class L>
struct PixelSearch {
  GroupStart<L> groups[kGroupsAhead + 1];
  const GroupStart<L> *current;  // the group in the lanes
  const GroupStart<L> *end;      // past the last real group: the padding
  int32_t origin;    // first level of the sequence
  int32_t step;      // fineSteps while coarse, 1 while refining
  int32_t length;    // levels in the sequence
  int32_t unbuffered; // position in the sequence of the next level to buffer
  int32_t coarseHit; // while refining: the coarse hit level, else -1
  int32_t column;    // -1: no pixel left for this vector
  double xCosB, minusXSinB;  // the pixel's x offset, turned by B
};

// The group in the lanes of one vector.
template <class L>
struct Lanes {
  typename L::Vec a, b, c, d;
  uint32_t live;  // valid lanes that have not escaped
  int32_t pass;   // passes this group has run
};

[[gnu::always_inline]] inline int32_t lowestLane(uint32_t lanes) {
  return __builtin_ctz(lanes);
}

[[gnu::always_inline]] inline uint32_t lowLanes(int32_t count) {
  return (1u << count) - 1u;
}

// All ones when no lane is live, else zero. A shift, not a comparison, or
// the compiler turns the group swap back into a branch.
[[gnu::always_inline]] inline uint32_t noneLive(uint32_t live) {
  return static_cast<uint32_t>(static_cast<int32_t>(live - 1) >> 31);
}

// Starting points of the `count` levels from position `at` of the pixel's
// sequence: the same coordinate and rotation steps as the scalar search,
// lane by lane.
template <class L>
[[gnu::always_inline]] inline void computeGroup(const RowConstants<L> &k,
                                                const PixelSearch<L> &p,
                                                GroupStart<L> *g, int32_t at,
                                                int32_t count) {
  using Vec = typename L::Vec;
  const int32_t first = p.origin + at * p.step;
  Vec x1, z2, y1SinC, y1CosC;
  if (k.tables && p.coarseHit < 0) [[likely]] {
    // Coarse levels (0, fineSteps, ...): the row's terms are ready in the
    // row tables, by position.
    x1 = L::add(L::set(p.xCosB), L::load(k.tables->rowZ1SinB + at));
    z2 = L::add(L::set(p.minusXSinB), L::load(k.tables->rowZ1CosB + at));
    y1SinC = L::load(k.tables->rowY1SinC + at);
    y1CosC = L::load(k.tables->rowY1CosC + at);
  } else {
    Vec pzSinA, pzCosA;  // the levels' offsets from the centre, times sin, cos A
    if (k.tables) {
      pzSinA = L::load(k.tables->sinA + first);
      pzCosA = L::load(k.tables->cosA + first);
    } else {
      Vec level = L::add(L::set(static_cast<double>(first)),
                         L::mul(L::laneIndex(), L::set(static_cast<double>(p.step))));
      Vec z = L::add(k.zMin, L::mul(k.zSpan, L::div(level, k.levelCount)));
      Vec pz = L::sub(z, k.centreZ);
      pzSinA = L::mul(pz, k.sinA);
      pzCosA = L::mul(pz, k.cosA);
    }
    Vec y1 = L::sub(k.yCosA, pzSinA);
    Vec z1 = L::add(k.ySinA, pzCosA);
    x1 = L::add(L::set(p.xCosB), L::mul(z1, k.sinB));
    z2 = L::add(L::set(p.minusXSinB), L::mul(z1, k.cosB));
    y1SinC = L::mul(y1, k.sinC);
    y1CosC = L::mul(y1, k.cosC);
  }
  Vec x2 = L::sub(L::mul(x1, k.cosC), y1SinC);
  Vec y2 = L::add(L::mul(x1, k.sinC), y1CosC);
  L::store(g->a, L::add(k.centreX, x2));
  L::store(g->b, L::add(k.centreY, y2));
  L::store(g->c, L::add(k.centreZ, z2));
  g->valid = lowLanes(count < L::kLanes ? count : L::kLanes);
  g->base = first;
}

template <class L>
[[gnu::always_inline]] inline void storePadding(GroupStart<L> *g) {
  const typename L::Vec notANumber = L::set(__builtin_nan(""));
  L::store(g->a, notANumber);
  L::store(g->b, notANumber);
  L::store(g->c, notANumber);
  g->valid = 0;
  g->base = -1;
}

// Buffers up to `count` next groups of the sequence from the start of the
// buffer.
template <class L>
[[gnu::always_inline]] inline void bufferGroups(const RowConstants<L> &k,
                                                PixelSearch<L> *p, int groups) {
  int32_t buffered = 0;
  while (buffered < groups && p->unbuffered < p->length) {
    computeGroup(k, *p, &p->groups[buffered], p->unbuffered, p->length - p->unbuffered);
    p->unbuffered += L::kLanes;
    ++buffered;
  }
  storePadding(&p->groups[buffered]);
  p->current = p->groups;
  p->end = p->groups + buffered;
}

template <class L>
[[gnu::always_inline]] inline void loadGroup(const RowConstants<L> &k,
                                             const PixelSearch<L> &p,
                                             Lanes<L> *v) {
  const GroupStart<L> &g = *p.current;
  v->a = L::load(g.a);
  v->b = L::load(g.b);
  v->c = L::load(g.c);
  v->d = k.wSlice;
  v->live = g.valid;
  v->pass = 0;
}

// Starts the sequence first, first + step, ..., last in the lanes.
template <class L>
[[gnu::always_inline]] inline void startSequence(const RowConstants<L> &k,
                                                 PixelSearch<L> *p, Lanes<L> *v,
                                                 int32_t first, int32_t last,
                                                 int32_t step) {
  p->origin = first;
  p->step = step;
  p->length = (last - first) / step + 1;
  p->unbuffered = 0;
  bufferGroups(k, p, kGroupsAtStart);
  loadGroup(k, *p, v);
}

template <class L>
[[gnu::always_inline]] inline void startPixel(const RowConstants<L> &k,
                                              PixelSearch<L> *p, Lanes<L> *v,
                                              int32_t column) {
  p->column = column;
  p->coarseHit = -1;
  double px = gridCoordinate(k.xMin, k.xMax, column, k.width) - k.centreXScalar;
  p->xCosB = px * k.cosBScalar;
  p->minusXSinB = (-px) * k.sinBScalar;
  startSequence(k, p, v, 0, k.depthLevels, k.fineSteps);
}

// A vector without a pixel iterates padding until the row is done.
template <class L>
[[gnu::always_inline]] inline void idle(const RowConstants<L> &k,
                                        PixelSearch<L> *p, Lanes<L> *v) {
  p->column = -1;
  p->origin = 0;
  p->step = 1;
  p->length = 0;  // nothing to buffer
  p->unbuffered = 0;
  bufferGroups(k, p, 0);
  storePadding(&p->groups[1]);  // what an idle vector looks ahead to
  loadGroup(k, *p, v);
}

// One pass of q -> q^2 + c on every lane, exactly as the scalar test, for
// a group that may end on this pass. Returns the live lanes: those whose
// square stays below the bailout (false when it is not a number). Unless
// the group goes on (some lane live, cap not reached), every lane takes the
// starting point of `next` instead of adding the constant, so swapping
// groups costs no instruction of its own and no branch.
template <class L>
[[gnu::always_inline]] inline uint32_t iterate(const RowConstants<L> &k,
                                               Lanes<L> *v,
                                               const GroupStart<L> &next,
                                               uint32_t capped) {
  using Vec = typename L::Vec;
  Vec t = L::add(v->a, v->a);
  Vec aSquared = L::sub(L::sub(L::sub(L::mul(v->a, v->a), L::mul(v->b, v->b)),
                               L::mul(v->c, v->c)),
                        L::mul(v->d, v->d));
  Vec bSquared = L::mul(t, v->b);
  Vec cSquared = L::mul(t, v->c);
  Vec dSquared = L::mul(t, v->d);
  Vec n = L::add(L::add(L::add(L::mul(aSquared, aSquared),
                               L::mul(bSquared, bSquared)),
                        L::mul(cSquared, cSquared)),
                 L::mul(dSquared, dSquared));
  const uint32_t live = L::liveBelow(v->live, n, k.bailout);
  if constexpr (L::kSwapByBranch) {
    // Where a blend costs more than a mispredicted branch at a group's end:
    // add the constant, and let the caller load the next group.
    v->a = L::add(aSquared, k.c0);
    v->b = L::add(bSquared, k.c1);
    v->c = L::add(cSquared, k.c2);
    v->d = L::add(dSquared, k.c3);
    (void)next;
    (void)capped;
    return live;
  }
  const uint32_t goesOn = ~(capped | noneLive(live)) & lowLanes(L::kLanes);
  v->a = L::addOrTake(aSquared, k.c0, goesOn, L::load(next.a));
  v->b = L::addOrTake(bSquared, k.c1, goesOn, L::load(next.b));
  v->c = L::addOrTake(cSquared, k.c2, goesOn, L::load(next.c));
  v->d = L::addOrTake(dSquared, k.c3, goesOn, k.wSlice);
  return live;
}

// What the vectors of one row share: where the next pixel comes from and
// where the answers go.
struct RowProgress {
  int32_t *depths;
  int32_t nextColumn;
  int busy;  // vectors still working on a pixel
  SearchStats *stats;
};

// A pixel's answer: store it and move the vector on to the next pixel.
template <class L>
[[gnu::always_inline]] inline void finishPixel(const RowConstants<L> &k,
                                               RowProgress *row,
                                               PixelSearch<L> *p, Lanes<L> *v,
                                               int32_t depth) {
  row->depths[p->column] = depth;
  if (row->nextColumn < k.width) {
    startPixel(k, p, v, row->nextColumn++);
  } else {
    idle(k, p, v);
    --row->busy;
  }
}

// Statistics: lane passes issued, and those on probes the answer needed.
// Lanes past the first inside one were speculative.
template <class L>
[[gnu::always_inline]] inline void countGroup(uint32_t valid, uint32_t inside,
                                              const int32_t *lanePasses,
                                              SearchStats *stats) {
  uint32_t needed = inside ? lowLanes(lowestLane(inside) + 1) & valid : valid;
  stats->groups += 1;
  stats->probes += __builtin_popcount(valid);
  for (int lane = 0; lane < L::kLanes; ++lane)
    if ((needed >> lane) & 1) stats->usefulIterations += lanePasses[lane];
}

// One pass of one vector; a finished group is replaced by the next one.
template <class L, bool kStats>
[[gnu::always_inline]] inline void step(const RowConstants<L> &k,
                                        RowProgress *row, PixelSearch<L> *p,
                                        Lanes<L> *v, int32_t *lanePasses) {
  if constexpr (kStats) {
    if (p->column >= 0) {
      row->stats->laneSlots += L::kLanes;
      row->stats->activeIterations += __builtin_popcount(v->live);
      for (int lane = 0; lane < L::kLanes; ++lane)
        lanePasses[lane] += (v->live >> lane) & 1;
    }
  }
  // All ones on the group's last pass, else zero; arithmetic, not a branch.
  const uint32_t capped = static_cast<uint32_t>((k.maxPasses - 2 - v->pass) >> 31);
  const GroupStart<L> &next = p->current[1];
  const uint32_t live = iterate(k, v, next, capped);
  const uint32_t done = capped | noneLive(live);

  if (capped & live) [[unlikely]] {
    // The first group with an inside lane: its lowest one is the answer.
    const GroupStart<L> &g = *p->current;
    const int32_t hit = g.base + lowestLane(live) * p->step;
    if constexpr (kStats) {
      countGroup<L>(g.valid, live, lanePasses, row->stats);
      for (int lane = 0; lane < L::kLanes; ++lane) lanePasses[lane] = 0;
    }
    if (p->coarseHit < 0 && hit > 0 && k.fineSteps > 1) {
      p->coarseHit = hit;
      startSequence(k, p, v, hit - k.fineSteps + 1, hit - 1, 1);
    } else if (p->column >= 0) {
      finishPixel(k, row, p, v, hit);
    }
    return;
  }
  if constexpr (kStats) {
    if (done && p->column >= 0) {
      countGroup<L>(p->current->valid, 0, lanePasses, row->stats);
      for (int lane = 0; lane < L::kLanes; ++lane) lanePasses[lane] = 0;
    }
  }
  if constexpr (L::kSwapByBranch) {
    v->live = live;
    ++v->pass;
    if (!done) return;
    ++p->current;
    if (p->current < p->end) {
      loadGroup(k, *p, v);
      return;
    }
  } else {
    // The lanes already hold the next group when done; catch up its state.
    p->current += done & 1u;
    v->live = (next.valid & done) | (live & ~done);
    v->pass = (v->pass + 1) & static_cast<int32_t>(~done);
    if (p->current < p->end) [[likely]] return;
  }

  // The buffer is used up: compute more, or the sequence has ended without
  // an inside level.
  if (p->unbuffered < p->length) {
    bufferGroups(k, p, kGroupsAhead);
    loadGroup(k, *p, v);
  } else if (p->column >= 0) {
    finishPixel(k, row, p, v, p->coarseHit < 0 ? -1 : p->coarseHit);
  } else {
    p->current = p->end;  // idle: keep iterating padding
    loadGroup(k, *p, v);
  }
}

template <class L, int kVectors, bool kStats>
void findRowDepths(const RenderSettings *s, const LevelTables *tables,
                   int32_t rowIndex, int32_t *depths, SearchStats *stats) {
  static_assert(kVectors >= 1 && kVectors <= 6);
  const RowConstants<L> k = rowConstants<L>(s, tables, rowIndex);
  if (k.tables) fillRowTables(k, s->coarseSteps + 1);
  PixelSearch<L> search[kVectors];
  int32_t lanePasses[kVectors][L::kLanes] = {};  // statistics only
  RowProgress row{depths, 0, 0, stats};
  // Separate variables rather than an array, and constant indices only, so
  // each vector's lanes can live in registers.
  Lanes<L> lanes0, lanes1, lanes2, lanes3, lanes4, lanes5;
  auto start = [&](PixelSearch<L> *p, Lanes<L> *v) {
    if (row.nextColumn < k.width) {
      startPixel(k, p, v, row.nextColumn++);
      ++row.busy;
    } else {
      idle(k, p, v);
    }
  };
  start(&search[0], &lanes0);
  if constexpr (kVectors > 1) start(&search[1], &lanes1);
  if constexpr (kVectors > 2) start(&search[2], &lanes2);
  if constexpr (kVectors > 3) start(&search[3], &lanes3);
  if constexpr (kVectors > 4) start(&search[4], &lanes4);
  if constexpr (kVectors > 5) start(&search[5], &lanes5);
  while (row.busy > 0) {
    step<L, kStats>(k, &row, &search[0], &lanes0, lanePasses[0]);
    if constexpr (kVectors > 1) step<L, kStats>(k, &row, &search[1], &lanes1, lanePasses[1]);
    if constexpr (kVectors > 2) step<L, kStats>(k, &row, &search[2], &lanes2, lanePasses[2]);
    if constexpr (kVectors > 3) step<L, kStats>(k, &row, &search[3], &lanes3, lanePasses[3]);
    if constexpr (kVectors > 4) step<L, kStats>(k, &row, &search[4], &lanes4, lanePasses[4]);
    if constexpr (kVectors > 5) step<L, kStats>(k, &row, &search[5], &lanes5, lanePasses[5]);
  }
}

}  // namespace quatdepth::vector_search

namespace quatdepth {

// Runs the search for one row, with statistics when `stats` is given.
template <class L, int kVectors>
void runVectorSearch(const RenderSettings *s, const LevelTables *tables,
                     int32_t row, int32_t *depths, SearchStats *stats) {
  if (stats) {
    stats->laneWidth = L::kLanes;
    vector_search::findRowDepths<L, kVectors, true>(s, tables, row, depths, stats);
  }
  else
    vector_search::findRowDepths<L, kVectors, false>(s, tables, row, depths, nullptr);
}

}  // namespace quatdepth
