#pragma once

// What the vector searches share: the view's constants for one row, as
// vectors of a lane type L, and the row's part of the rotation of every
// coarse level. Included only by the per-ISA source files.

#include <cstdint>

#include "julia/depth_search.h"
#include "julia/escape_bound.h"
#include "julia/level_tables.h"
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
  // Passes before sureUntil (counted from 0) test the new quaternion
  // against sureEscapeNorm instead of the square against the bailout.
  Vec sureEscape;
  int32_t sureUntil;
  int32_t depthLevels, coarseLevels, fineSteps, maxPasses, width;
  double xMin, xMax, centreXScalar, cosBScalar, sinBScalar;
  const LevelTables *levels;  // null without tables
  RowScratch *rowTerms;        // null without tables or scratch
  CoarseSpans spans;           // each pixel's coarse probes that may stay in the set
};

// The row's part of the rotation of every coarse level, for all pixels of
// the row: y1 and z1 (turned by A) times the sines and cosines of B and C.
template <class L>
void fillRowTerms(const RowConstants<L> &k, int32_t coarseLevels) {
  using Vec = typename L::Vec;
  const LevelTables &t = *k.levels;
  RowScratch &row = *k.rowTerms;
  for (int32_t j = 0; j < coarseLevels; j += L::kLanes) {
    Vec y1 = L::sub(k.yCosA, L::load(t.coarseSinA + j));
    Vec z1 = L::add(k.ySinA, L::load(t.coarseCosA + j));
    L::store(row.z1SinB + j, L::mul(z1, k.sinB));
    L::store(row.z1CosB + j, L::mul(z1, k.cosB));
    L::store(row.y1SinC + j, L::mul(y1, k.sinC));
    L::store(row.y1CosC + j, L::mul(y1, k.cosC));
  }
}

template <class L>
RowConstants<L> rowConstants(const RenderSettings *s, SearchTables tables, int32_t row) {
  RowConstants<L> k;
  k.levels = tables.levels && tables.levels->sinA ? tables.levels : nullptr;
  k.rowTerms = k.levels && tables.rowScratch && tables.rowScratch->z1SinB ? tables.rowScratch
                                                                          : nullptr;
  const double py = gridCoordinate(s->yMin, s->yMax, row, s->height) - s->centreY;
  k.zMin = L::set(s->zMin);
  k.zSpan = L::set(s->zMax - s->zMin);
  k.depthLevels = s->coarseSteps * s->fineSteps;
  k.coarseLevels = s->coarseSteps + 1;  // 0, fineSteps, ..., depthLevels
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
  // Built tables carry the view's norms; without them each row works them out.
  const double sureNorm = tables.levels ? tables.levels->sureEscapeNorm : sureEscapeNorm(s);
  k.sureEscape = L::set(sureNorm);
  k.sureUntil = sureEscapeUntil(s, sureNorm);
  k.fineSteps = s->fineSteps;
  k.width = s->width;
  k.xMin = s->xMin;
  k.xMax = s->xMax;
  k.centreXScalar = s->centreX;
  k.cosBScalar = s->cosB;
  k.sinBScalar = s->sinB;
  // The escape bound, like the sure-escape norm, from the tables if built.
  k.spans = CoarseSpans(s, py, tables.levels ? tables.levels->escapeNormSquared
                                             : escapeNormSquared(s));
  return k;
}

}  // namespace quatdepth::vector_search
