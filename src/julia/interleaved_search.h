#pragma once

// The vector search for high iteration caps: several pixels in flight, one
// vector each, so that while one pixel's group runs long (its lanes inside,
// iterating to the cap) the others' groups fill the units. One pixel at a
// time cannot do that: a long group's pass is one dependent chain, and
// the coarse hit and the refinement after it are two such runs in a row.
//
// Each vector works on one pixel, a group of kLanes levels at once (coarse
// levels, or neighbouring levels while refining), and every vector takes
// one pass in turn. A group ends when no lane is live or at the cap; the
// next group's starting points come from a small buffer computed ahead.
// Levels go into groups in increasing order, so the first group with an
// inside lane holds the first inside level of its sequence, as in the
// grouped search, and the depths match the scalar reference bit for bit.
// Included only by the per-ISA source files.

#include <cstdint>

#include "julia/row_constants.h"
#include "julia/row_pixels.h"
#include "julia/vector_search.h"

namespace quatdepth::interleaved_search {

using vector_search::lowLanes;
using vector_search::passVectors;
using vector_search::PixelRay;
using vector_search::RowConstants;
using vector_search::RowPixel;
using vector_search::RowPixels;
using vector_search::Sequence;

// Groups computed ahead per refill of the buffer: few when a sequence
// starts (a pixel near the set needs few), more once it is under way.
constexpr int kGroupsAhead = 16;
constexpr int kGroupsAtStart = 4;

// One group's starting points, as its lanes will load them.
template <class L>
struct GroupStart {
  typename L::Vec a, b, c;
  uint32_t valid;  // lanes holding a real level
  int32_t base;    // level of lane 0
};

// One pixel's search and the group in its vector's lanes.
template <class L>
struct PixelSearch {
  GroupStart<L> groups[kGroupsAhead];
  int32_t current = 0;     // the group in the lanes
  int32_t buffered = 0;    // groups in the buffer
  Sequence sequence{};     // the levels being searched
  int32_t unbuffered = 0;  // position in the sequence of the next level to buffer
  int32_t coarseHit = -1;  // while refining: the coarse hit level, else -1
  int32_t column = -1;     // -1: no pixel left for this vector
  PixelRay ray{};
  typename L::Vec a{}, b{}, c{}, d{};
  uint32_t live = 0;  // valid lanes that have not escaped
  int32_t pass = 0;   // passes this group has run
};

// Buffers up to `groups` next groups of the sequence.
template <class L>
[[gnu::always_inline]] inline void bufferGroups(const RowConstants<L> &k, PixelSearch<L> *p,
                                                int groups) {
  p->buffered = 0;
  p->current = 0;
  while (p->buffered < groups && p->unbuffered < p->sequence.length) {
    GroupStart<L> &g = p->groups[p->buffered++];
    vector_search::startingPoints(k, p->ray, p->sequence, p->unbuffered, &g.a, &g.b, &g.c);
    const int32_t left = p->sequence.length - p->unbuffered;
    g.valid = lowLanes(left < L::kLanes ? left : L::kLanes);
    g.base = p->sequence.first + p->unbuffered * p->sequence.step;
    p->unbuffered += L::kLanes;
  }
}

template <class L>
[[gnu::always_inline]] inline void loadGroup(const RowConstants<L> &k, PixelSearch<L> *p) {
  const GroupStart<L> &g = p->groups[p->current];
  p->a = g.a, p->b = g.b, p->c = g.c, p->d = k.wSlice;
  p->live = g.valid;
  p->pass = 0;
}

template <class L>
[[gnu::always_inline]] inline void startSequence(const RowConstants<L> &k, PixelSearch<L> *p,
                                                 Sequence sequence, int32_t from = 0) {
  p->sequence = sequence;
  p->unbuffered = from;
  bufferGroups(k, p, kGroupsAtStart);
  loadGroup(k, p);
}

// What the vectors of one row share: where the next pixel comes from and
// where the answers go.
template <class L>
struct RowProgress {
  int32_t *depths;
  RowPixels<L> pixels;
  int busy;  // vectors still working on a pixel
};

// Moves the vector on to the next pixel of the row, or leaves it idle.
// Pixels whose coarse probes all surely escape are answered on the way.
template <class L>
[[gnu::always_inline]] inline void startPixel(const RowConstants<L> &k, RowProgress<L> *row,
                                              PixelSearch<L> *p) {
  for (;;) {
    RowPixel pixel;
    if (!row->pixels.next(&pixel)) {
      p->column = -1;
      p->live = 0;
      --row->busy;
      return;
    }
    p->column = pixel.column;
    p->coarseHit = -1;
    const CoarseSpan span = pixel.span;
    if (span.first > span.last) {
      row->depths[p->column] = -1;
      continue;
    }
    p->ray = pixel.ray;
    startSequence(k, p, Sequence{0, k.fineSteps, span.last + 1, true}, span.first);
    return;
  }
}

template <class L>
[[gnu::always_inline]] inline void finishPixel(const RowConstants<L> &k, RowProgress<L> *row,
                                               PixelSearch<L> *p, int32_t depth) {
  row->depths[p->column] = depth;
  startPixel(k, row, p);
}

// One pass of one vector; a finished group is replaced by the next one.
template <class L, class Counts>
[[gnu::always_inline]] inline void step(const RowConstants<L> &k, RowProgress<L> *row,
                                        PixelSearch<L> *p, Counts *counts) {
  if (p->column < 0) return;
  counts->pass(p->live, L::kLanes);
  const uint32_t live = p->live & passVectors<L, 1>(k, p->pass, &p->a, &p->b, &p->c, &p->d);
  const bool capped = ++p->pass >= k.maxPasses;
  if (live && !capped) {
    p->live = live;
    return;
  }
  const GroupStart<L> &g = p->groups[p->current];
  const uint32_t inside = capped ? live : 0;
  counts->group(g.valid, inside);
  if (inside) {
    // The first group with an inside lane: its lowest one is the answer.
    const int32_t hit = g.base + __builtin_ctz(inside) * p->sequence.step;
    if (p->coarseHit < 0 && hit > 0 && k.fineSteps > 1) {
      p->coarseHit = hit;
      startSequence(k, p, Sequence{hit - k.fineSteps + 1, 1, k.fineSteps - 1, false});
    } else {
      finishPixel(k, row, p, hit);
    }
    return;
  }
  if (++p->current < p->buffered) {
    loadGroup(k, p);
  } else if (p->unbuffered < p->sequence.length) {
    bufferGroups(k, p, kGroupsAhead);
    loadGroup(k, p);
  } else {
    // The sequence ended without an inside level.
    finishPixel(k, row, p, p->coarseHit < 0 ? -1 : p->coarseHit);
  }
}

template <class L, int kPixels, class Counts>
void findRowDepths(const RenderSettings *s, SearchTables tables, int32_t rowIndex,
                   int32_t *depths, Counts *counts) {
  static_assert(kPixels >= 1 && kPixels <= 4);
  const RowConstants<L> k = vector_search::rowConstants<L>(s, tables, rowIndex);
  if (k.rowTerms) fillRowTerms(k, k.coarseLevels);
  RowProgress<L> row{depths, RowPixels<L>(k), kPixels};
  Counts c0 = *counts, c1 = *counts, c2 = *counts, c3 = *counts;  // each its own group
  // Separate variables and constant indices only, so each pixel's lanes
  // can live in registers.
  PixelSearch<L> p0, p1, p2, p3;
  startPixel(k, &row, &p0);
  if constexpr (kPixels > 1) startPixel(k, &row, &p1);
  if constexpr (kPixels > 2) startPixel(k, &row, &p2);
  if constexpr (kPixels > 3) startPixel(k, &row, &p3);
  while (row.busy > 0) {
    step(k, &row, &p0, &c0);
    if constexpr (kPixels > 1) step(k, &row, &p1, &c1);
    if constexpr (kPixels > 2) step(k, &row, &p2, &c2);
    if constexpr (kPixels > 3) step(k, &row, &p3, &c3);
  }
}

}  // namespace quatdepth::interleaved_search
