#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "settings/positional_settings.h"
#include "settings/render_settings.h"
#include "settings/settings_limits.h"

namespace quatdepth {
namespace {

TEST(ParseInteger, KeepsEveryDocumentedQuirk) {
  EXPECT_EQ(parseInteger("300"), 300);
  EXPECT_EQ(parseInteger("-7"), -7);
  EXPECT_EQ(parseInteger("12.9"), 12);
  EXPECT_EQ(parseInteger(""), 0);
  EXPECT_EQ(parseInteger("-"), 0);
  EXPECT_EQ(parseInteger("+5"), -45);
  EXPECT_EQ(parseInteger("1e3"), 633);
  EXPECT_EQ(parseInteger(" 5"), -155);
  EXPECT_EQ(parseInteger("2147483648"), INT32_MIN);
  EXPECT_EQ(parseInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(parseInteger("4294967297"), 1);
  // Bytes above 0x7F are negative characters.
  EXPECT_EQ(parseInteger("\xff"), -49);
}

TEST(ParseReal, KeepsEveryDocumentedQuirk) {
  EXPECT_EQ(parseReal("0.25"), 0.25);
  EXPECT_EQ(parseReal("-1.2"), -1.2);
  EXPECT_EQ(parseReal(".5"), 0.5);
  EXPECT_EQ(parseReal("7."), 7.0);
  EXPECT_EQ(parseReal("1e5"), 635.0);
  EXPECT_EQ(parseReal("+1.5"), -48.5);
  EXPECT_EQ(parseReal("1.2.5"), 1.1849999999999998);
  EXPECT_EQ(parseReal("3.14159"), 3.1415900000000003);
  EXPECT_NE(parseReal("3.14159"), 3.14159);
  // A zero digit still moves the divisor on.
  EXPECT_EQ(parseReal("-1.05"), -1.05);
  EXPECT_EQ(parseReal("0.007"), 0.007);
  EXPECT_EQ(parseReal("2.050"), 2.05);

  double negativeZero = parseReal("-0");
  EXPECT_EQ(negativeZero, 0.0);
  EXPECT_FALSE(std::signbit(negativeZero));
  // Enough digits overflow the accumulation to infinity.
  EXPECT_TRUE(std::isinf(parseReal(std::string(400, '9').c_str())));
}

// Builds an argument vector: program name plus the given texts.
struct ArgumentVector {
  std::vector<std::string> texts;
  std::vector<const char *> pointers;
  explicit ArgumentVector(std::vector<std::string> arguments) : texts(std::move(arguments)) {
    texts.insert(texts.begin(), "quatdepth");
    for (const auto &text : texts) pointers.push_back(text.c_str());
    pointers.push_back(nullptr);
  }
  int count() const { return static_cast<int>(texts.size()); }
};

const std::vector<std::string> kRotatedRun = {
    "-1", "-2", "-3", "4", "5", "6", "0.1", "0.2", "0.3", "0.4", "0.5",
    "0.3", "0.5", "0.7", "8", "4", "50", "5", "12", "9", "1", "2"};

void expectDefaults(const RenderSettings &s) {
  EXPECT_EQ(s.xMin, -1.2);
  EXPECT_EQ(s.zMax, 1.2);
  EXPECT_EQ(s.juliaC[0], -0.1);
  EXPECT_EQ(s.juliaC[3], -0.1);
  EXPECT_EQ(s.wSlice, 0.0);
  EXPECT_EQ(s.sinA, 0.0);
  EXPECT_EQ(s.cosC, 1.0);
  EXPECT_EQ(s.centreX, 0.0);
  EXPECT_EQ(s.width, 300);
  EXPECT_EQ(s.height, 300);
  EXPECT_EQ(s.coarseSteps * s.fineSteps, 1000);
  EXPECT_EQ(s.maxIterations, 10);
  EXPECT_EQ(s.bailout, 16);
  EXPECT_EQ(s.firstRow, 0);
  EXPECT_EQ(s.rowStep, 1);
}

TEST(InitSettings, FewerThanTwentyArgumentsKeepAllDefaults) {
  for (size_t given : {size_t{0}, size_t{1}, size_t{19}}) {
    ArgumentVector args(std::vector<std::string>(kRotatedRun.begin(),
                                                 kRotatedRun.begin() + static_cast<std::ptrdiff_t>(given)));
    RenderSettings s;
    initSettings(&s, args.pointers.data(), args.count());
    SCOPED_TRACE(given);
    expectDefaults(s);
  }
}

TEST(InitSettings, TwentyTwoArgumentsFillEveryFieldAndExtrasAreIgnored) {
  std::vector<std::string> texts = kRotatedRun;
  texts.push_back("999");
  texts.push_back("garbage");
  ArgumentVector args(texts);
  RenderSettings s;
  ViewAngles angles;
  initSettings(&s, args.pointers.data(), args.count(), &angles);
  EXPECT_EQ(s.xMin, -1.0);
  EXPECT_EQ(s.zMax, 6.0);
  EXPECT_EQ(s.juliaC[3], 0.4);
  EXPECT_EQ(s.wSlice, 0.5);
  EXPECT_EQ(angles.b, 0.5);
  EXPECT_EQ(s.sinA, std::sin(0.3));
  EXPECT_EQ(s.cosB, std::cos(0.5));
  EXPECT_EQ(s.sinC, std::sin(0.7));
  EXPECT_EQ(s.centreX, 1.5);
  EXPECT_EQ(s.centreY, 1.5);
  EXPECT_EQ(s.centreZ, 1.5);
  EXPECT_EQ(s.width, 8);
  EXPECT_EQ(s.height, 4);
  EXPECT_EQ(s.coarseSteps, 50);
  EXPECT_EQ(s.fineSteps, 5);
  EXPECT_EQ(s.maxIterations, 12);
  EXPECT_EQ(s.bailout, 9);
  EXPECT_EQ(s.firstRow, 1);
  EXPECT_EQ(s.rowStep, 2);
}

TEST(InitSettings, TwentyOrTwentyOneArgumentsKeepDefaultsForMissingPositions) {
  ArgumentVector twenty(std::vector<std::string>(kRotatedRun.begin(),
                                                 kRotatedRun.begin() + 20));
  RenderSettings s;
  initSettings(&s, twenty.pointers.data(), twenty.count());
  EXPECT_EQ(s.bailout, 9);
  EXPECT_EQ(s.firstRow, 0);
  EXPECT_EQ(s.rowStep, 1);

  ArgumentVector twentyOne(std::vector<std::string>(kRotatedRun.begin(),
                                                    kRotatedRun.begin() + 21));
  initSettings(&s, twentyOne.pointers.data(), twentyOne.count());
  EXPECT_EQ(s.firstRow, 1);
  EXPECT_EQ(s.rowStep, 1);
}

TEST(InitSettings, HugeOrNonFiniteAnglesGiveNotANumber) {
  std::vector<std::string> texts = kRotatedRun;
  texts[11] = "9007199254740992";  // 2^53
  texts[12] = std::string(400, '9');
  ArgumentVector args(texts);
  RenderSettings s;
  initSettings(&s, args.pointers.data(), args.count());
  EXPECT_TRUE(std::isnan(s.sinA) && std::isnan(s.cosA));
  EXPECT_TRUE(std::isnan(s.sinB) && std::isnan(s.cosB));
  EXPECT_EQ(s.sinC, std::sin(0.7));
}

// Returns the limits message for the default run with one argument changed,
// or "" when the run is accepted.
std::string limitsMessage(size_t position, const std::string &text) {
  std::vector<std::string> texts = {
      "-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1", "0.2",
      "0.3",  "-0.1", "0",    "0",   "0",   "0",   "300",  "300",
      "100",  "10",   "10",   "16",  "0",   "1"};
  texts[position - 1] = text;
  ArgumentVector args(texts);
  RenderSettings s;
  ViewAngles angles;
  initSettings(&s, args.pointers.data(), args.count(), &angles);
  const std::optional<LimitViolation> refusal = firstViolatedLimit(&s, &angles);
  if (!refusal) return "";
  const std::string &message = refusal->message;
  EXPECT_EQ(message.find('\n'), message.size() - 1) << "one line: " << message;
  EXPECT_NE(message.find(refusal->parameter + " is "), std::string::npos) << message;
  return message;
}

TEST(SettingsLimits, RefusesValuesThatCannotRenderAndNamesThem) {
  struct Case {
    size_t position;
    std::string text;
    std::string expected;
  } cases[] = {
      {17, "0", "coarseSteps is 0"},
      {18, "-3", "fineSteps is -3"},
      {17, "214748365", "coarseSteps x fineSteps + fineSteps is 2147483660"},
      {17, "1677722", "coarseSteps x fineSteps is 16777220"},
      {22, "0", "rowStep is 0"},
      {15, "-1", "width is -1"},
      {21, "-5", "firstRow is -5"},
      {16, "16777217", "height is 16777217"},
      {1, std::string(400, '9'), "xMin is inf"},
      {10, "-" + std::string(400, '9'), "juliaC component 4 is -inf"},
      {12, "9007199254740992", "angle A is 9007199254740992"},
      {14, "-9007199254740993", "angle C is -9007199254740992"},
  };
  for (const Case &c : cases) {
    std::string message = limitsMessage(c.position, c.text);
    EXPECT_NE(message.find(c.expected), std::string::npos)
        << "position " << c.position << " '" << c.text.substr(0, 20)
        << "' gave: " << message;
  }
}

TEST(SettingsLimits, AcceptsTheEdgesOfEveryLimitAndDocumentedOddities) {
  struct Case {
    size_t position;
    std::string text;
  } cases[] = {
      {17, "1677721"},  // 16777210 levels
      {18, "1"},        {16, "16777216"},  {15, "0"},
      {21, "300"},      {19, "-4"},        {20, "0"},
      {20, "-16"},      {22, "2147483647"}, {12, "9007199254740991"},
      {16, "-3"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(limitsMessage(c.position, c.text), "")
        << "position " << c.position << " '" << c.text << "'";
}

}  // namespace
}  // namespace quatdepth
