#include "instruments/leading_number.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

namespace varnholt {
namespace {

TEST(LeadingNumber, ReadsSignsFractionsAndExponents) {
    EXPECT_EQ(LeadingNumber("42"), 42.0);
    EXPECT_EQ(LeadingNumber("+0,\"No error\"\r\n"), 0.0);
    EXPECT_EQ(LeadingNumber("-222,\"Data out of range\""), -222.0);
    EXPECT_EQ(LeadingNumber(".5"), 0.5);
    EXPECT_EQ(LeadingNumber("-.25x"), -0.25);
    EXPECT_EQ(LeadingNumber("3."), 3.0);
    EXPECT_EQ(LeadingNumber("1.5E3"), 1500.0);
    EXPECT_EQ(LeadingNumber("2e-2"), 0.02);
    EXPECT_EQ(LeadingNumber("7E+1 volts"), 70.0);
    EXPECT_EQ(LeadingNumber("-1 Timed out waiting for power supply"), -1.0);
}

TEST(LeadingNumber, StopsAtTheFirstOtherCharacter) {
    EXPECT_EQ(LeadingNumber("5.txt"), 5.0);
    EXPECT_EQ(LeadingNumber("10.txt"), 10.0);
    EXPECT_EQ(LeadingNumber("3.5.txt"), 3.5);
    EXPECT_EQ(LeadingNumber("5E"), 5.0);  // exponent without digits is not read
    EXPECT_EQ(LeadingNumber("5e+x"), 5.0);
    EXPECT_EQ(LeadingNumber("12\r\n"), 12.0);  // CR is not skipped
    EXPECT_EQ(LeadingNumber("1\r2"), 1.0);
}

TEST(LeadingNumber, SkipsBlanksTabsAndLineFeedsWhereverTheyStand) {
    EXPECT_EQ(LeadingNumber("  \t\n 12"), 12.0);
    EXPECT_EQ(LeadingNumber("1 2 3"), 123.0);
    EXPECT_EQ(LeadingNumber("- 4\t.\n5"), -4.5);
    EXPECT_EQ(LeadingNumber("1 e 2"), 100.0);
}

TEST(LeadingNumber, NonNumbersGiveZero) {
    EXPECT_EQ(LeadingNumber(""), 0.0);
    EXPECT_EQ(LeadingNumber("\r\n"), 0.0);
    EXPECT_EQ(LeadingNumber(".txt"), 0.0);
    EXPECT_EQ(LeadingNumber("_old.txt"), 0.0);
    EXPECT_EQ(LeadingNumber("-"), 0.0);
    EXPECT_EQ(LeadingNumber("+."), 0.0);
    EXPECT_EQ(LeadingNumber("E5"), 0.0);
    EXPECT_EQ(LeadingNumber("HEWLETT-PACKARD"), 0.0);
}

// Noise on the line in front of an error code (a NUL from an adapter powering
// up, a CR, a stray 0xFF) must not hide the code and turn it into a success.
TEST(LeadingNumber, LineNoiseBeforeTheNumberIsSkipped) {
    EXPECT_EQ(LeadingNumber(std::string_view("\0"
                                             "5",
                                             2)),
              5.0);
    EXPECT_EQ(LeadingNumber((std::string(1, '\0') + "-222,\"Data out of range\"\r\n")), -222.0);
    EXPECT_EQ(LeadingNumber("\r\n\x1b\x7f\xff -1 Timed out"), -1.0);
    EXPECT_EQ(LeadingNumber("\xff\xff+0,\"No error\""), 0.0);
    // Only in front: noise after the number still ends it, and a reply of
    // noise alone still has no number.
    EXPECT_EQ(LeadingNumber("1\x00"
                            "2"),
              1.0);
    EXPECT_EQ(LeadingNumber(std::string("\0\r\n", 3)), 0.0);
    // Other 8-bit characters are text, not noise.
    EXPECT_EQ(LeadingNumber("\xfe"
                            "5"),
              0.0);
}

TEST(LeadingNumber, HugeExponentsDoNotCrashAndLocaleDoesNotMatter) {
    EXPECT_TRUE(std::isinf(LeadingNumber("1e999")));
    EXPECT_EQ(LeadingNumber("1e-999"), 0.0);
    // A comma-decimal locale must not change how replies are read.
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {
        EXPECT_EQ(LeadingNumber("0.5"), 0.5);
        std::setlocale(LC_ALL, "C");
    }
}

}  // namespace
}  // namespace varnholt
