#pragma once

#include <cstdint>

namespace quatdepth {

// Every parameter of one run plus the values derived from them once at
// start-up. Filled by initSettings and read-only afterwards.
struct RenderSettings {
  double xMin;  // x at pixel column 0
  double yMin;  // y at row 0
  double zMin;  // z at depth level 0 (the near face)
  double xMax;  // x at column `width` (never reached)
  double yMax;  // y at row `height` (never reached)
  double zMax;  // z at the deepest level (the far face)
  double juliaC[4];  // constant added on every iteration
  double wSlice;     // fourth quaternion component of every sample point
  double sinA;  // view angle A turns about the x axis
  double sinB;  // view angle B turns about the y axis
  double sinC;  // view angle C turns about the z axis
  double cosA;
  double cosB;
  double cosC;
  double centreX;  // centre of the view box, the pivot of the rotation
  double centreY;
  double centreZ;
  int32_t width;          // pixels per row
  int32_t height;         // rows in the full image
  int32_t coarseSteps;    // coarse depth intervals
  int32_t fineSteps;      // depth levels per coarse interval
  int32_t maxIterations;  // iteration cap of the membership test
  int32_t bailout;        // escape threshold, compared as a real number
  int32_t firstRow;       // first row this run renders
  int32_t rowStep;        // distance between rendered rows
};

// The three view angles in radians. Only their sines and cosines live in
// RenderSettings; the angles are kept so the limits check can name them.
struct ViewAngles {
  double a = 0.0;
  double b = 0.0;
  double c = 0.0;
};

// The program's own number parsers. They never fail: every byte before the
// first '.' counts as its code minus 48, so "+5" is -45 and "1e3" is 633.
// Integer arithmetic wraps at 32 bits; real arithmetic rounds each step.
int32_t parseInteger(const char *text);
double parseReal(const char *text);

// Angles of this magnitude or more cannot be turned by: their sine and
// cosine are not-a-number, and the limits refuse them.
constexpr double kLargestTurnableAngle = 9007199254740992.0;  // 2^53

// The fields derived from the parameters: the sines and cosines of the
// angles and the centre of the box. Call again after changing either.
void deriveViewValues(RenderSettings *settings, const ViewAngles &angles);

// Sine and cosine as the renderer uses them: correctly rounded to the
// nearest double, so every CPU and C library gives the same bits; not-a-
// number for angles of magnitude kLargestTurnableAngle or more, or
// non-finite ones.
double viewSine(double angle);
double viewCosine(double angle);

}  // namespace quatdepth
