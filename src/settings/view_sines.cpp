// The view's sines and cosines, correctly rounded. C libraries' sin and cos
// are not: glibc's x86-64 versions differ by an ulp between CPUs with and
// without FMA for about one angle in 700, so two hosts of one cluster
// could turn the same view by different amounts. MPFR rounds exactly, the
// same on every CPU and architecture; it runs six times a run, at start-up.
#include <mpfr.h>

#include <cmath>
#include <limits>

#include "settings/render_settings.h"

namespace quatdepth {
namespace {

// An MPFR number with a double's 53-bit significand, freed by its owner.
class Double53 {
 public:
  Double53() { mpfr_init2(value_, 53); }
  Double53(const Double53 &) = delete;
  Double53 &operator=(const Double53 &) = delete;
  ~Double53() { mpfr_clear(value_); }
  mpfr_ptr get() { return value_; }

 private:
  mpfr_t value_;
};

using MpfrFunction = int (*)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t);

// `function` of `angle` rounded once, to nearest. A double is exact at 53
// bits, and in MPFR's wide exponent range the rounded result is a double
// (a result below the normal range comes only from an angle that small,
// whose sine rounds to the angle itself).
double correctlyRounded(MpfrFunction function, double angle) {
  if (!(std::fabs(angle) < kLargestTurnableAngle))
    return std::numeric_limits<double>::quiet_NaN();
  double rounded;
  {
    Double53 x, result;
    mpfr_set_d(x.get(), angle, MPFR_RNDN);
    function(result.get(), x.get(), MPFR_RNDN);
    rounded = mpfr_get_d(result.get(), MPFR_RNDN);
  }
  // MPFR keeps constants it needed (pi) in a cache of each thread, which
  // would outlive a server's render threads: six values a view do not
  // need it kept.
  mpfr_free_cache2(MPFR_FREE_LOCAL_CACHE);
  return rounded;
}

}  // namespace

double viewSine(double angle) { return correctlyRounded(mpfr_sin, angle); }

double viewCosine(double angle) { return correctlyRounded(mpfr_cos, angle); }

}  // namespace quatdepth
