#pragma once

// The pixels of one row in order, each with its x offset from the centre
// turned by B and its span of coarse probes, worked out a batch at a time.
// A pixel's span is a long chain of dependent operations, and the search
// cannot start before it: one at a time, each waits between two pixels'
// searches, where a batch's chains overlap. Included only by the per-ISA
// source files.

#include <cstdint>

#include "julia/depth_search.h"
#include "julia/escape_bound.h"
#include "julia/row_constants.h"

namespace quatdepth::vector_search {

// The pixel's x offset from the centre, turned by B: the same for every
// probe of the pixel.
struct PixelRay {
  double xCosB, minusXSinB;
};

struct RowPixel {
  int32_t column;
  PixelRay ray;
  CoarseSpan span;
};

template <class L>
class RowPixels {
 public:
  explicit RowPixels(const RowConstants<L> &k) : k_(k) {}

  // Whether every pixel of the row has been handed out.
  bool done() const { return at_ == count_ && nextColumn_ >= k_.width; }

  // The next pixel of the row; false when there is none.
  bool next(RowPixel *pixel) {
    if (at_ == count_ && !fill()) return false;
    const double px = px_[at_];
    *pixel = RowPixel{first_ + at_, PixelRay{px * k_.cosBScalar, (-px) * k_.sinBScalar},
                      spans_[at_]};
    ++at_;
    return true;
  }

 private:
  static constexpr int32_t kBatch = 32;

  bool fill() {
    if (nextColumn_ >= k_.width) return false;
    const int32_t left = k_.width - nextColumn_;
    count_ = left < kBatch ? left : kBatch;
    for (int32_t i = 0; i < count_; ++i)
      px_[i] = gridCoordinate(k_.xMin, k_.xMax, nextColumn_ + i, k_.width) - k_.centreXScalar;
    k_.spans.spans(px_, count_, spans_);
    first_ = nextColumn_;
    nextColumn_ += count_;
    at_ = 0;
    return true;
  }

  const RowConstants<L> &k_;
  int32_t nextColumn_ = 0;  // the first column not yet in a batch
  int32_t first_ = 0;       // the batch's first column
  int32_t count_ = 0, at_ = 0;
  double px_[kBatch];  // x less the centre's
  CoarseSpan spans_[kBatch];
};

}  // namespace quatdepth::vector_search
