#pragma once

// The vector search for high iteration caps. Most probes end within a few
// passes; the few that do not (a pixel's first inside level, about one a
// pixel, and late escapes) hold most of the passes, and one pixel's group
// of levels cannot keep its lanes busy while one of them runs long.
//
// So each pixel's levels run in short groups, as in the grouped search,
// for at most kShortPasses passes. Lanes still live then become the
// pixel's pending probes, and the lowest of them moves to a pool of long
// probes, where every lane is an independent probe of any pixel of the
// row and a lane that ends is refilled at once from the probes waiting.
// Only one probe of a pixel is in the pool at a time, the lowest: if it
// is inside, the pixel's sequence has its answer and the others are never
// run on; if it escapes, the next pending one follows. A pixel is a small
// state machine that waits for its long probe's answer, and many pixels
// are in flight so that the pool stays full.
//
// A pending probe carries its quaternion and its pass count into the pool
// and goes on from there with the same operations, so every probe's
// passes are those of the scalar reference and the depths match it bit
// for bit.
//
// Most long probes are inside, and at high caps their orbits often fall
// onto a cycle of doubles (an attracting fixed point, rounded) long before
// the cap. A pass is a fixed function of the quaternion, so a probe whose
// quaternion comes back exactly to one it had, without escaping on the
// way, repeats those passes forever and is inside at any cap: the pool
// keeps every lane's quaternion every kCycleKeepEvery passes, compares
// every kCycleCheckEvery, and answers such a probe at once. That finds
// cycles of up to 8 passes and many longer ones. Included only by the
// per-ISA source files.

#include <cstdint>
#include <limits>

#include "julia/row_constants.h"
#include "julia/row_pixels.h"
#include "julia/vector_search.h"

namespace quatdepth::vector_search::pooled {

// Lanes still live after this many passes of a short group go to the pool.
constexpr int32_t kShortPasses = 16;
// The pool runs on until this share of its lanes have escaped: a lane that
// escaped is done with (its state is never read again), and refilling
// costs far more than a pass, so lanes wait a little for company.
constexpr int kRefillFraction = 3;  // a third of the pool's lanes
// Pixels in flight: enough that, while each waits for one probe in the
// pool, the pool stays full and short work is still at hand.
constexpr int kPixelSlots = 64;
constexpr int kMaxGroupLanes = 32;
// Cycles are looked for when the pool's share of the cap is at least
// kCycleSearchFrom passes.
constexpr int32_t kCycleSearchFrom = 128;
constexpr uint32_t kCycleCheckEvery = 8;
constexpr uint32_t kCycleKeepEvery = 64;

// A pixel's short group as it stood after kShortPasses, kept whole, and
// which of its lanes are still live and wait for the pool: they go there
// lowest level first, one at a time.
struct PendingProbes {
  alignas(64) double a[kMaxGroupLanes], b[kMaxGroupLanes], c[kMaxGroupLanes],
      d[kMaxGroupLanes];
  uint32_t waiting = 0;
  int32_t awaited = 0;               // the lane sent to the pool last, or inside
  bool sentOne = false;              // whether one has gone to the pool yet
  int32_t firstLevel = 0, step = 0;  // lane i holds level firstLevel + i x step

  int32_t level(int32_t lane) const { return firstLevel + lane * step; }
};

struct PixelSlot {
  int32_t column = -1;
  PixelRay ray{};
  PixelSteps steps;
  int32_t at = 0;  // position in steps.sequence() of the next short group
  PendingProbes pending;
};

// A first-in, first-out list of slot indices; never holds more than there
// are slots.
struct SlotQueue {
  static_assert((kPixelSlots & (kPixelSlots - 1)) == 0);
  int32_t slot[kPixelSlots];
  uint32_t head = 0, size = 0;
  bool empty() const { return size == 0; }
  void push(int32_t s) { slot[(head + size++) & (kPixelSlots - 1)] = s; }
  // Pushes s if `really`, without a branch on it.
  void pushIf(int32_t s, bool really) {
    slot[(head + size) & (kPixelSlots - 1)] = s;
    size += really;
  }
  int32_t pop() {
    const int32_t s = slot[head];
    head = (head + 1) & (kPixelSlots - 1);
    --size;
    return s;
  }
};

// The pool's lanes, kept in memory between runs: a run loads them into
// registers, and a lane is refilled by writing its entries.
template <class L, int V>
struct Pool {
  static constexpr int kLanes = V * L::kLanes;
  static_assert(kLanes <= 32);
  alignas(64) double a[kLanes], b[kLanes], c[kLanes], d[kLanes];
  int32_t slot[kLanes];
  int32_t remaining[kLanes] = {};  // passes up to the cap
  int32_t passes[kLanes];     // passes in the pool, for the statistics
  // A quaternion each lane's probe had, to see it come back (not a number
  // until the probe's first keep).
  alignas(64) double keptA[kLanes], keptB[kLanes], keptC[kLanes], keptD[kLanes];
  uint32_t clock = 0;  // passes the pool has run, modulo 2^32
  uint32_t busy = 0;
  uint32_t freeLanes() const { return ~busy & lowLanes(kLanes); }
};

// The lanes of `lanes` whose quaternion is the one kept for them.
template <class L, int V>
[[gnu::always_inline]] inline uint32_t returnedLanes(const Pool<L, V> &pool, uint32_t lanes,
                                                     const typename L::Vec *a,
                                                     const typename L::Vec *b,
                                                     const typename L::Vec *c,
                                                     const typename L::Vec *d) {
  uint32_t same = 0;
  for (int v = 0; v < V; ++v) {
    const int at = v * L::kLanes;
    same |= (L::equal(a[v], L::load(pool.keptA + at)) & L::equal(b[v], L::load(pool.keptB + at)) &
             L::equal(c[v], L::load(pool.keptC + at)) & L::equal(d[v], L::load(pool.keptD + at)))
            << at;
  }
  return same & lanes;
}

// Runs the pool's busy lanes until `refillAt` of them have escaped, one
// reaches the cap still inside or, when `cycles` is on, one comes back to
// its kept quaternion. Returns the lanes that escaped; `capped` gets those
// known inside: at the cap, or on a cycle.
template <class L, int V, bool kKeepSquares, class Counts>
[[gnu::always_inline]] inline uint32_t runPool(const RowConstants<L> &k, Pool<L, V> *pool,
                                               int refillAt, bool cycles, uint32_t *capped,
                                               Counts *counts) {
  using Vec = typename L::Vec;
  constexpr int kLanes = Pool<L, V>::kLanes;
  const uint32_t busy = pool->busy;
  // Without branches: which lanes are busy is anyone's guess.
  int32_t most = k.maxPasses;
  for (int lane = 0; lane < kLanes; ++lane) {
    const int32_t left = ((busy >> lane) & 1) ? pool->remaining[lane] : k.maxPasses;
    most = left < most ? left : most;
  }
  Vec a[V], b[V], c[V], d[V];
  for (int v = 0; v < V; ++v) {
    a[v] = L::load(pool->a + v * L::kLanes);
    b[v] = L::load(pool->b + v * L::kLanes);
    c[v] = L::load(pool->c + v * L::kLanes);
    d[v] = L::load(pool->d + v * L::kLanes);
  }
  uint32_t escaped = 0, returned = 0;
  int32_t done = 0;
  // The busy lane nearest its cap has had `furthest` passes: the pass it
  // may take holds for every lane.
  const int32_t furthest = k.maxPasses - most;
  PartSquares<L> squares[V] = {};
  if constexpr (kKeepSquares) startPartSquares<L, V>(k, furthest, a, b, c, d, squares);
  while (done < most) {
    const uint32_t below =
        passVectors<L, V, kKeepSquares>(k, furthest + done, a, b, c, d, squares);
    ++done;
    const uint32_t newlyEscaped = busy & ~below & ~escaped;
    if constexpr (Counts::kCounting)
      for (uint32_t e = newlyEscaped; e; e &= e - 1) pool->passes[__builtin_ctz(e)] += done;
    escaped |= newlyEscaped;
    if (__builtin_popcount(escaped) >= refillAt) [[unlikely]]
      break;
    const uint32_t now = pool->clock + static_cast<uint32_t>(done);
    if (cycles && now % kCycleCheckEvery == 0) {
      returned = returnedLanes(*pool, busy & ~escaped, a, b, c, d);
      if (returned) [[unlikely]]
        break;
      if (now % kCycleKeepEvery == 0) {
        for (int v = 0; v < V; ++v) {
          L::store(pool->keptA + v * L::kLanes, a[v]);
          L::store(pool->keptB + v * L::kLanes, b[v]);
          L::store(pool->keptC + v * L::kLanes, c[v]);
          L::store(pool->keptD + v * L::kLanes, d[v]);
        }
      }
    }
  }
  pool->clock += static_cast<uint32_t>(done);
  if constexpr (Counts::kCounting) counts->poolPasses(busy, done, kLanes);
  for (int v = 0; v < V; ++v) {
    L::store(pool->a + v * L::kLanes, a[v]);
    L::store(pool->b + v * L::kLanes, b[v]);
    L::store(pool->c + v * L::kLanes, c[v]);
    L::store(pool->d + v * L::kLanes, d[v]);
  }
  uint32_t atCap = 0;
  for (int lane = 0; lane < kLanes; ++lane) {
    const bool inUse = (busy >> lane) & 1;
    pool->remaining[lane] -= inUse ? done : 0;
    atCap |= static_cast<uint32_t>(inUse && pool->remaining[lane] == 0) << lane;
  }
  if constexpr (Counts::kCounting)
    for (uint32_t rest = busy & ~escaped; rest; rest &= rest - 1)
      pool->passes[__builtin_ctz(rest)] += done;
  *capped = (atCap | returned) & ~escaped;
  return escaped;
}

// What a short group ends with.
enum class GroupEnd { kAllEscaped, kInside, kPending };

// The row's search: its pixels' slots, the probes waiting for the pool,
// and the slots with short work to do.
template <class L, SearchShape kShape, class Counts>
class RowSearch {
 public:
  static constexpr int kCoarseVectors = kShape.coarseVectors;
  static constexpr int kFineVectors = kShape.fineVectors;
  static constexpr int kPoolVectors = kShape.poolVectors;

  RowSearch(const RowConstants<L> &k, int32_t *depths, Counts *counts)
      : k_(k), depths_(depths), counts_(counts) {
    for (int s = kPixelSlots - 1; s >= 0; --s) freeSlots_[freeCount_++] = s;
  }

  void run() {
    for (;;) {
      fillPool();
      // Short work while the pool has room for what it brings.
      if (pool_.freeLanes() && (!ready_.empty() || startPixel())) {
        shortWork(ready_.pop());
        continue;
      }
      if (pool_.busy) {
        finishPoolProbes();
        continue;
      }
      if (waiting_.empty() && ready_.empty()) return;
    }
  }

 private:
  // Takes the next pixel of the row into a free slot; false when there is
  // no pixel or no slot. Pixels whose coarse probes all surely escape are
  // answered on the way.
  bool startPixel() {
    for (;;) {
      RowPixel pixel;
      if (freeCount_ == 0 || !pixels_.next(&pixel)) return false;
      const CoarseSpan span = pixel.span;
      if (span.first > span.last) {
        depths_[pixel.column] = -1;
        continue;
      }
      const int32_t s = freeSlots_[--freeCount_];
      PixelSlot &p = slots_[s];
      p.column = pixel.column;
      p.ray = pixel.ray;
      p.steps = PixelSteps(k_.fineSteps, span);
      startSequence(&p);
      ready_.push(s);
      return true;
    }
  }

  static void startSequence(PixelSlot *p) {
    p->at = p->steps.from();
    p->pending.waiting = 0;
  }

  void finishPixel(int32_t s, int32_t depth) {
    depths_[slots_[s].column] = depth;
    slots_[s].column = -1;
    freeSlots_[freeCount_++] = s;
  }

  // The first inside level of the pixel's sequence is `level` (-1: none):
  // a coarse hit starts the refinement, which is short work; anything else
  // gives the pixel's answer. Returns whether the slot has short work.
  bool settle(int32_t s, int32_t level) {
    PixelSlot &p = slots_[s];
    int32_t depth;
    if (!p.steps.settle(level, &depth)) {
      startSequence(&p);
      return true;
    }
    finishPixel(s, depth);
    return false;
  }

  // Runs the slot's sequence, group after group, until it has its answer
  // or a group leaves probes pending for the pool.
  void shortWork(int32_t s) {
    PixelSlot &p = slots_[s];
    for (;;) {
      if (p.at >= p.steps.sequence().length) {
        settle(s, -1);
        return;
      }
      const GroupEnd end = p.steps.sequence().coarse ? shortGroups<kCoarseVectors>(&p)
                                                     : shortGroups<kFineVectors>(&p);
      if (end == GroupEnd::kPending) {
        waiting_.push(s);
        return;
      }
      if (end == GroupEnd::kInside) {
        if (!settle(s, p.pending.level(p.pending.awaited))) return;
      }
    }
  }

  // Runs the sequence's groups from p->at while they all escape, to its
  // end or to a group that does not. Each group's starting points are
  // worked out while the one before runs, so they are ready at its exit.
  template <int V>
  GroupEnd shortGroups(PixelSlot *p) {
    constexpr int32_t kGroupLanes = V * L::kLanes;
    const Sequence &seq = p->steps.sequence();
    GroupStart<L, V> current = groupStart<L, V>(k_, p->ray, seq, p->at);
    for (;;) {
      const bool more = seq.length - p->at > kGroupLanes;
      GroupStart<L, V> next;
      if (more) next = groupStart<L, V>(k_, p->ray, seq, p->at + kGroupLanes);
      const GroupEnd end = shortGroup<V>(p, current);
      if (end != GroupEnd::kAllEscaped || !more) return end;
      current = next;
    }
  }

  // Runs the group of the sequence at p->at, starting from `start`, for at
  // most kShortPasses (or the cap). The lowest lane inside at the cap
  // goes to pending.awaited; lanes still live short of the cap become the
  // pending probes.
  template <int V>
  GroupEnd shortGroup(PixelSlot *p, const GroupStart<L, V> &start) {
    using Vec = typename L::Vec;
    constexpr int32_t kGroupLanes = V * L::kLanes;
    static_assert(kGroupLanes <= kMaxGroupLanes && kGroupLanes <= kLevelTablePadding);
    const Sequence &seq = p->steps.sequence();
    const int32_t at = p->at;
    const int32_t left = seq.length - at;
    const uint32_t valid = lowLanes(left < kGroupLanes ? left : kGroupLanes);
    p->at += kGroupLanes;
    Vec a[V], b[V], c[V], d[V];
    for (int v = 0; v < V; ++v) a[v] = start.a[v], b[v] = start.b[v], c[v] = start.c[v],
                                d[v] = k_.wSlice;
    const int32_t limit = k_.maxPasses < kShortPasses ? k_.maxPasses : kShortPasses;
    uint32_t live = valid;
    int32_t pass = 0;
    if (limit == kShortPasses && kShortPasses <= k_.sureUntil) [[likely]] {
      // All of the group's passes take the sure-escape test but passes 2, 4,
      // ..., which take none: `live` changes only after the others, and the
      // loop looks at it only then.
      static_assert(kShortPasses % 2 == 0 && !untestedPass(1) && untestedPass(2) &&
                    !untestedPass(3));
      if constexpr (Counts::kCounting) counts_->pass(live, kGroupLanes);
      live &= surePassVectors<L, V>(k_, a, b, c, d);
      if (live) {
        if constexpr (Counts::kCounting) counts_->pass(live, kGroupLanes);
        live &= surePassVectors<L, V>(k_, a, b, c, d);
      }
      pass = 2;
      while (live && pass < kShortPasses) {
        if constexpr (Counts::kCounting) {
          counts_->pass(live, kGroupLanes);  // the untested pass
          counts_->pass(live, kGroupLanes);  // and the tested one after it
        }
        untestedPassVectors<L, V>(k_, a, b, c, d);
        live &= surePassVectors<L, V>(k_, a, b, c, d);
        pass += 2;
      }
    } else {
      while (pass < limit) {
        if constexpr (Counts::kCounting) counts_->pass(live, kGroupLanes);
        const uint32_t below = passVectors<L, V>(k_, pass, a, b, c, d);
        live &= below;
        ++pass;
        if (!live) break;
      }
    }
    PendingProbes &pending = p->pending;
    pending.waiting = 0;
    if (!live) {
      counts_->group(valid, 0);
      return GroupEnd::kAllEscaped;
    }
    const uint32_t lowest = live & (0u - live);
    counts_->group(valid, lowest);
    pending.firstLevel = seq.first + at * seq.step;
    pending.step = seq.step;
    if (pass >= k_.maxPasses) {
      pending.awaited = __builtin_ctz(live);
      return GroupEnd::kInside;
    }
    for (int v = 0; v < V; ++v) {
      L::store(pending.a + v * L::kLanes, a[v]);
      L::store(pending.b + v * L::kLanes, b[v]);
      L::store(pending.c + v * L::kLanes, c[v]);
      L::store(pending.d + v * L::kLanes, d[v]);
    }
    pending.waiting = live;
    pending.sentOne = false;
    return GroupEnd::kPending;
  }

  // Moves waiting slots' next pending probes into the pool's free lanes.
  void fillPool() {
    for (uint32_t free = pool_.freeLanes(); free && !waiting_.empty(); free &= free - 1) {
      const int lane = __builtin_ctz(free);
      const int32_t s = waiting_.pop();
      PendingProbes &pending = slots_[s].pending;
      const int n = __builtin_ctz(pending.waiting);
      pending.waiting &= pending.waiting - 1;
      pending.awaited = n;
      pool_.a[lane] = pending.a[n], pool_.b[lane] = pending.b[n];
      pool_.c[lane] = pending.c[n], pool_.d[lane] = pending.d[n];
      pool_.slot[lane] = s;
      pool_.remaining[lane] = k_.maxPasses - kShortPasses;
      if constexpr (Counts::kCounting) pool_.passes[lane] = 0;
      // Nothing kept for this probe yet: the last lane's is no longer its.
      pool_.keptA[lane] = std::numeric_limits<double>::quiet_NaN();
      pool_.busy |= 1u << lane;
    }
  }

  // Runs the pool until probes end, and moves their pixels on.
  void finishPoolProbes() {
    uint32_t capped = 0;
    // With nothing left to refill from, a pixel whose probe escaped has
    // the only work there is.
    const bool moreToCome = !waiting_.empty() || !ready_.empty() || !pixels_.done();
    constexpr int kRefillAt = Pool<L, kPoolVectors>::kLanes / kRefillFraction;
    const int refillAt = moreToCome && kRefillAt > 1 ? kRefillAt : 1;
    const bool cycles = k_.maxPasses - kShortPasses >= kCycleSearchFrom;
    const uint32_t escaped =
        runPool<L, kPoolVectors, kShape.poolKeepsSquares>(k_, &pool_, refillAt, cycles, &capped,
                                                          counts_);
    for (uint32_t ended = escaped | capped; ended; ended &= ended - 1) {
      const int lane = __builtin_ctz(ended);
      pool_.busy &= ~(1u << lane);
      const int32_t s = pool_.slot[lane];
      PendingProbes &pending = slots_[s].pending;
      if constexpr (Counts::kCounting)
        counts_->poolProbe(pool_.passes[lane], pending.sentOne ? kShortPasses : 0);
      pending.sentOne = true;
      if ((capped >> lane) & 1) [[unlikely]] {
        if (settle(s, pending.level(pending.awaited))) ready_.push(s);
        continue;
      }
      // Escaped: the pixel's next pending probe waits for the pool, or,
      // with none left, the sequence goes on after the group. Which it is
      // is anyone's guess, so both queues take the slot and one keeps it.
      const bool more = pending.waiting != 0;
      waiting_.pushIf(s, more);
      ready_.pushIf(s, !more);
    }
  }

  const RowConstants<L> &k_;
  int32_t *depths_;
  Counts *counts_;
  RowPixels<L> pixels_{k_};
  PixelSlot slots_[kPixelSlots];
  int32_t freeSlots_[kPixelSlots];
  int freeCount_ = 0;
  SlotQueue waiting_;  // slots whose next pending probe waits for the pool
  SlotQueue ready_;    // slots with short work
  Pool<L, kPoolVectors> pool_;
};

template <class L, SearchShape kShape, class Counts>
void findRowDepths(const RenderSettings *s, SearchTables tables, int32_t rowIndex,
                   int32_t *depths, Counts *counts) {
  const RowConstants<L> k = rowConstants<L>(s, tables, rowIndex);
  if (k.rowTerms) fillRowTerms(k, k.coarseLevels);
  RowSearch<L, kShape, Counts> search(k, depths, counts);
  search.run();
}

}  // namespace quatdepth::vector_search::pooled
