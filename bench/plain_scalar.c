/* The renderer's search written as plain scalar C, one pixel and one probe at
 * a time, with nothing shared with the project's code: the baseline the speed
 * ratios are taken against. Same arguments, same records, same bytes.
 *   cc -O3 -march=native -ffp-contract=off bench/plain_scalar.c -lm
 * Only for timing well-formed runs: it checks no limit. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static double parseReal(const char *text) {
  int negative = 0;
  double value = 0.0, divisor = 10.0;
  if (*text == '-') negative = 1, ++text;
  while (*text && *text != '.') {
    value = (double)((signed char)*text - 48) + value;
    ++text;
    if (*text && *text != '.') value = value * 10.0;
  }
  if (*text == '.')
    for (++text; *text; ++text, divisor = divisor * 10.0)
      if ((signed char)*text - 48 != 0) value = value + (double)((signed char)*text - 48) / divisor;
  return negative ? 0.0 - value : value;
}

static int32_t parseInteger(const char *text) {
  int negative = 0;
  uint32_t value = 0;
  if (*text == '-') negative = 1, ++text;
  while (*text && *text != '.') {
    value += (uint32_t)((signed char)*text - 48);
    ++text;
    if (*text && *text != '.') value *= 10u;
  }
  return (int32_t)(negative ? 0u - value : value);
}

static double box[6] = {-1.2, -1.2, -1.2, 1.2, 1.2, 1.2};
static double c[4] = {-0.1, 0.2, 0.3, -0.1}, w, angle[3];
static int32_t width = 300, height = 300, coarse = 100, fine = 10, cap = 10, bailout = 16;
static int32_t firstRow, rowStep = 1;
static double sinA, sinB, sinC, cosA, cosB, cosC, cx, cy, cz;

static double grid(double lo, double hi, int32_t i, int32_t n) {
  double fraction = (double)i / (double)n;
  double offset = (hi - lo) * fraction;
  return lo + offset;
}

static int inside(double x, double y, double z) {
  double px = x - cx, py = y - cy, pz = z - cz;
  double y1 = py * cosA - pz * sinA, z1 = py * sinA + pz * cosA;
  double x1 = px * cosB + z1 * sinB, z2 = (-px) * sinB + z1 * cosB;
  double x2 = x1 * cosC - y1 * sinC, y2 = x1 * sinC + y1 * cosC;
  double a = cx + x2, b = cy + y2, cc = cz + z2, d = w, n;
  int32_t i = 0;
  for (;;) {
    double t = a + a;
    double a2 = ((a * a - b * b) - cc * cc) - d * d, b2 = t * b, c2 = t * cc, d2 = t * d;
    n = ((a2 * a2 + b2 * b2) + c2 * c2) + d2 * d2;
    a = a2 + c[0], b = b2 + c[1], cc = c2 + c[2], d = d2 + c[3];
    if (++i >= cap || !((double)bailout > n)) break;
  }
  return (double)bailout > n;
}

static int32_t depth(int32_t column, int32_t row) {
  int32_t levels = coarse * fine, result = -1, k = 0;
  double x = grid(box[0], box[3], column, width), y = grid(box[1], box[4], row, height);
  do {
    if (inside(x, y, grid(box[2], box[5], k, levels))) {
      result = k;
      if (k >= 1)
        for (int32_t s = 1; s < fine; ++s)
          if (inside(x, y, grid(box[2], box[5], k - s, levels))) result = k - s;
      k -= fine - 1;
    }
    k += fine;
  } while (k <= levels && result < 0);
  return result;
}

static void put(unsigned char *p, int32_t v) {
  for (int shift = 18; shift >= 0; shift -= 6)
    *p++ = (unsigned char)(v < 0 ? 0xFF : ((v >> shift) & 63) * 2 + 1);
}

int main(int argc, char **argv) {
  if (argc >= 23) {
    for (int i = 0; i < 6; ++i) box[i] = parseReal(argv[1 + i]);
    for (int i = 0; i < 4; ++i) c[i] = parseReal(argv[7 + i]);
    w = parseReal(argv[11]);
    for (int i = 0; i < 3; ++i) angle[i] = parseReal(argv[12 + i]);
    int32_t *ints[8] = {&width, &height, &coarse, &fine, &cap, &bailout, &firstRow, &rowStep};
    for (int i = 0; i < 8; ++i) *ints[i] = parseInteger(argv[15 + i]);
  }
  sinA = sin(angle[0]), sinB = sin(angle[1]), sinC = sin(angle[2]);
  cosA = cos(angle[0]), cosB = cos(angle[1]), cosC = cos(angle[2]);
  cx = (box[3] - box[0]) * 0.5 + box[0];
  cy = (box[4] - box[1]) * 0.5 + box[1];
  cz = (box[5] - box[2]) * 0.5 + box[2];
  unsigned char *record = malloc(4 * ((size_t)width + 1));
  if (!record) return 1;
  for (int32_t row = firstRow; row < height; row += rowStep) {
    put(record, row);
    for (int32_t column = 0; column < width; ++column)
      put(record + 4 * (column + 1), depth(column, row));
    if (fwrite(record, 4, (size_t)width + 1, stdout) != (size_t)width + 1) return 1;
  }
  free(record);
  return fflush(stdout) ? 1 : 0;
}
