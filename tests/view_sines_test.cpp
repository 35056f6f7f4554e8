// The view's sines and cosines are correctly rounded on every CPU: the
// angles below are ones where glibc's x86-64 sin or cos is an ulp off in
// its FMA variant (-1.622, 0.3714) or in its plain one (0.241, 1.7366).
// The expected bits are the correctly rounded values of the angle as the
// renderer reads it (0.241 is 0x1.ed916872b020dp-3, an ulp from strtod's).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "run_program.h"
#include "settings/render_settings.h"

namespace quatdepth::testing {
namespace {

struct SplitAngle {
  const char *text;
  const char *sine;
  const char *cosine;
};
constexpr SplitAngle kSplitAngles[] = {
    {"-1.622", "-0x1.ff5436d5700d7p-1", "-0x1.a346f81f3a3d4p-5"},
    {"0.241", "0x1.e8cdd542d7eb5p-3", "0x1.f133fdc12ac9bp-1"},
    {"1.7366", "0x1.f8fa7b947b82fp-1", "-0x1.520321bb26634p-3"},
    {"0.3714", "0x1.73a1636f0fc6p-2", "0x1.dd17888bfb2bfp-1"},
};

std::string hex(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

// What the sines program should print for all split angles.
std::string expectedLines() {
  std::string lines;
  for (const SplitAngle &a : kSplitAngles)
    lines += std::string(a.sine) + " " + a.cosine + "\n";
  return lines;
}

std::vector<std::string> angleTexts() {
  std::vector<std::string> texts;
  for (const SplitAngle &a : kSplitAngles) texts.push_back(a.text);
  return texts;
}

TEST(ViewSines, AreCorrectlyRoundedWhereCLibrariesDisagree) {
  for (const SplitAngle &a : kSplitAngles) {
    const double angle = parseReal(a.text);
    EXPECT_EQ(hex(viewSine(angle)), a.sine) << "sin " << a.text;
    EXPECT_EQ(hex(viewCosine(angle)), a.cosine) << "cos " << a.text;
  }
  // Zero keeps its sign, as the rotation relies on for angle 0.
  EXPECT_EQ(hex(viewSine(-0.0)), "-0x0p+0");
  EXPECT_EQ(hex(viewCosine(0.0)), "0x1p+0");
  // A sine below the normal range is the angle itself, not rounded twice.
  EXPECT_EQ(viewSine(0x1.8p-1070), 0x1.8p-1070);
  // The largest turnable angle still turns; the next power of two does not.
  EXPECT_FALSE(std::isnan(viewSine(0x1.fffffffffffffp+52)));
  EXPECT_TRUE(std::isnan(viewCosine(0x1p+53)));
}

// The same bits whichever variant glibc would choose for this CPU: the
// program as it is, with FMA and AVX2 hidden from glibc, and under qemu's
// x86-64 CPU models without FMA (qemu64) and with it (Haswell).
TEST(ViewSines, TheSameBitsOnEveryCpu) {
  const std::string program = QUATDEPTH_VIEW_SINES_PROGRAM;
  const ProgramResult native = runProgram(program, angleTexts());
  ASSERT_EQ(native.exitStatus, 0) << native.err;
  EXPECT_EQ(native.out, expectedLines());

  RunOptions withoutFma;
  withoutFma.environment = {{"GLIBC_TUNABLES", "glibc.cpu.hwcaps=-AVX2,-FMA"}};
  const ProgramResult plain = runProgram(program, angleTexts(), withoutFma);
  ASSERT_EQ(plain.exitStatus, 0) << plain.err;
  EXPECT_EQ(plain.out, expectedLines()) << "with glibc's plain sine and cosine";

#if !defined(__x86_64__)
  GTEST_SKIP() << "qemu's x86-64 CPU models run x86-64 builds only";
#elif defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory does not fit under qemu-user";
#else
  const std::string qemu = findProgram("qemu-x86_64");
  if (qemu.empty())
    GTEST_SKIP() << "qemu-x86_64 is not installed (Debian package qemu-user; scripts/install-deps)";
  for (const char *model : {"qemu64", "Haswell"}) {
    std::vector<std::string> args = {"-cpu", model, program};
    for (const std::string &text : angleTexts()) args.push_back(text);
    const ProgramResult run = runProgram(qemu, args);
    ASSERT_EQ(run.exitStatus, 0) << model << ": " << run.err;
    EXPECT_EQ(run.out, expectedLines()) << "under qemu's " << model;
  }
#endif
}

// The renderer itself asks the C library for no sine or cosine at all.
TEST(ViewSines, TheRendererLinksNoCLibrarySineOrCosine) {
  const std::string nm = QUATDEPTH_NM;
  if (nm.empty()) GTEST_SKIP() << "no nm for this build's programs";
  const ProgramResult symbols =
      runProgram(nm, {"--dynamic", "--undefined-only", "--format=just-symbols", QUATDEPTH_PROGRAM});
  ASSERT_EQ(symbols.exitStatus, 0) << symbols.err;
  // A listing that names nothing we know would prove nothing.
  ASSERT_NE(symbols.out.find("mpfr_sin"), std::string::npos) << symbols.out;
  for (const char *name : {"sin", "cos", "sincos", "sinl", "cosl"}) {
    const std::string word = std::string("\n") + name;
    const std::string listing = "\n" + symbols.out;
    for (const char *end : {"\n", "@"})
      EXPECT_EQ(listing.find(word + end), std::string::npos) << name << " in\n" << symbols.out;
  }
}

}  // namespace
}  // namespace quatdepth::testing
