#pragma once

// Which levels of a pixel the steps search (DepthSearch::kSteps) probes,
// and in what order: the rule every vector search shares. Plain integers,
// no lanes, so tests can include it too; its functions are always inlined,
// as everything the per-ISA files share must be (see vector_search.h).

#include <cstdint>

#include "julia/escape_bound.h"

namespace quatdepth::vector_search {

// A run of levels of one pixel: first, first + step, ..., `length` of them.
// `coarse` says they are the coarse levels 0, fineSteps, ..., whose terms
// the row scratch holds by position.
struct Sequence {
  int32_t first, step, length;
  bool coarse;
};

// One pixel's steps search, the same in every design: first the coarse
// levels 0, fineSteps, ... of the pixel's span; after a coarse hit past
// level 0, the fineSteps - 1 levels between the coarse probe before it and
// the hit, near side first. The depth is the first inside level of those,
// or else the coarse hit: the scalar reference's answer. A design runs
// each sequence its own way and hands its first inside level to settle.
class PixelSteps {
 public:
  PixelSteps() = default;
  [[gnu::always_inline]] PixelSteps(int32_t fineSteps, CoarseSpan span)
      : sequence_{0, fineSteps, span.last + 1, true}, from_(span.first) {}

  // The levels to search now, from position from() on: coarse probes
  // before the span surely escape and are not run.
  [[gnu::always_inline]] const Sequence &sequence() const { return sequence_; }
  [[gnu::always_inline]] int32_t from() const { return from_; }

  // Takes the first inside level of sequence() (-1: none). Returns true
  // with the pixel's depth in *depth, or false when the refinement is the
  // sequence to search next (it always settles).
  [[gnu::always_inline]] bool settle(int32_t level, int32_t *depth) {
    const int32_t fineSteps = sequence_.step;  // while coarse
    if (sequence_.coarse && level > 0 && fineSteps > 1) {
      coarseHit_ = level;
      sequence_ = Sequence{level - fineSteps + 1, 1, fineSteps - 1, false};
      from_ = 0;
      return false;
    }
    *depth = level >= 0 ? level : coarseHit_;
    return true;
  }

 private:
  Sequence sequence_{};
  int32_t from_ = 0;
  int32_t coarseHit_ = -1;  // while refining: the coarse hit
};

}  // namespace quatdepth::vector_search
