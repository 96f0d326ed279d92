// Life figures against values worked outside this program: R 4.2's
// survival::survreg (Surv(t, failed) ~ 1, dist = "weibull") for the fits,
// its profile likelihood (the log-likelihood survreg reports, refitted with
// the parameter held) for the bounds, and the closed forms by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "reliability/weibull.h"

namespace varnholt {
namespace {

struct FitCase {
    const char* name;
    LifeData data;
    double beta, eta, betaLow, betaHigh, etaLow, etaHigh, b10, b10Lower;
};

// Relative agreement: the figures are printed to 5 or 6 digits.
void ExpectNear(double actual, double expected, const char* what, const char* name) {
    EXPECT_NEAR(actual, expected, std::abs(expected) * 2e-4) << name << ": " << what;
}

TEST(WeibullTest, FitsAndBoundsAgreeWithValuesWorkedElsewhere) {
    const FitCase cases[] = {
        {"five failures, three suspensions",
         {{12000, 25500, 31000, 44000, 61000}, {70000, 70000, 15000}},
         1.67742,
         59612.7,
         0.8262,
         2.9089,
         38599,
         113509,
         15584.9,
         5959.8},
        {"eight failures, complete",
         {{150, 230, 310, 420, 480, 560, 700, 910}, {}},
         2.13861,
         532.626,
         1.2784,
         3.24,
         384.435,
         722.547,
         185.966,
         98.8988},
        {"a tie among the failures, suspensions before and after",
         {{900000, 1200000, 1200000, 2500000}, {3000000, 3000000, 3000000, 400000, 3000000}},
         1.54593,
         3.65989e+06,
         0.66751,
         2.9258,
         2.27714e+06,
         1.04632e+07,
         853649,
         287872},
        {"two failures among suspensions",
         {{3000, 8000}, {10000, 10000, 10000, 10000}},
         1.55515,
         17700.5,
         0.39327,
         3.9364,
         9453.22,
         287017,
         4164.32,
         752.692},
    };
    for (const FitCase& c : cases) {
        std::string note;
        const auto fit = FitWeibull(c.data, note);
        ASSERT_TRUE(fit) << c.name << ": " << note;
        ExpectNear(fit->beta, c.beta, "beta", c.name);
        ExpectNear(fit->eta, c.eta, "eta", c.name);
        ExpectNear(fit->betaLow90, c.betaLow, "beta low", c.name);
        ExpectNear(fit->betaHigh90, c.betaHigh, "beta high", c.name);
        ExpectNear(fit->etaLow90, c.etaLow, "eta low", c.name);
        ExpectNear(fit->etaHigh90, c.etaHigh, "eta high", c.name);
        ExpectNear(fit->b10, c.b10, "B10", c.name);
        ExpectNear(fit->b10Lower90, c.b10Lower, "B10 lower", c.name);
        ExpectNear(fit->b50, BLife(c.beta, c.eta, 50), "B50", c.name);
    }
}

TEST(WeibullTest, NoFitWithoutTwoDistinctFailuresButASentence) {
    const LifeData cases[] = {
        {{}, {70000, 70000}},      // none failed
        {{5000}, {70000, 70000}},  // one
        {{5000, 5000, 5000}, {}},  // all at one cycle
        {{5000, 6000}, {0}},       // a unit with no cycles
        {{5000, NAN}, {}},
    };
    for (const LifeData& data : cases) {
        std::string note;
        EXPECT_FALSE(FitWeibull(data, note));
        EXPECT_FALSE(note.empty());
    }
}

TEST(WeibullTest, ExtremeLotsGiveFiniteFiguresOrNaNBoundsWithoutHanging) {
    // Two failures a cycle apart (a huge shape), a lot of 10,000 units, and
    // two failures far apart among many suspensions.
    LifeData tight{{1000000, 1000001}, {}};
    LifeData many;
    for (int i = 1; i <= 10000; ++i) {
        (i % 3 ? many.suspensions : many.failures).push_back(1000.0 * i);
    }
    LifeData spread{{3, 3e9}, std::vector<double>(50, 5e9)};
    for (const LifeData* data : {&tight, &many, &spread}) {
        std::string note;
        const auto fit = FitWeibull(*data, note);
        ASSERT_TRUE(fit) << note;
        EXPECT_TRUE(std::isfinite(fit->beta) && fit->beta > 0);
        EXPECT_TRUE(std::isfinite(fit->eta) && fit->eta > 0);
        for (const double bound : {fit->betaLow90, fit->etaLow90, fit->b10Lower90}) {
            EXPECT_TRUE(std::isnan(bound) || bound > 0);
        }
    }
}

TEST(WeibullTest, MedianRanksCountSuspensionsByJohnsonsAdjustedRank) {
    // Complete: (i - 0.3) / (n + 0.4). With a suspension between two
    // failures of three units the second failure's adjusted rank is
    // 1 + (3 + 1 - 1) / (1 + 1) = 2.5; a suspension tied with a failure
    // counts as outliving it.
    const struct {
        LifeData life;
        std::vector<double> expected;
    } cases[] = {
        {{{30, 10, 20}, {}}, {0.7 / 3.4, 1.7 / 3.4, 2.7 / 3.4}},
        {{{10, 30}, {20}}, {0.7 / 3.4, 2.2 / 3.4}},
        {{{10}, {10}}, {0.7 / 2.4}},
    };
    for (const auto& c : cases) {
        const auto points = MedianRanks(c.life);
        ASSERT_EQ(points.size(), c.expected.size());
        for (size_t i = 0; i < points.size(); ++i) {
            EXPECT_NEAR(points[i].unreliability, c.expected[i], 1e-12) << i;
        }
    }
}

TEST(WeibullTest, WeibayesAndTheZeroFailurePlanByHand) {
    // 5 units at 70,000 cycles, none failed, beta 2: (2 * 5 * 70000^2 /
    // chi2(0.90, 2))^(1/2) with chi2(0.90, 2) = 2 ln 10 = 4.605170.
    const auto w = WeibayesBound(0, std::vector<double>(5, 70000), 2.0);
    ASSERT_TRUE(w);
    EXPECT_NEAR(w->etaLower90, 103151.4, 0.1);
    EXPECT_NEAR(w->b10Lower90, 103151.4 * std::sqrt(-std::log(0.9)), 0.1);
    // One failure: chi2(0.90, 4) = 7.779440.
    const auto one = WeibayesBound(1, {10000, 20000}, 1.0);
    ASSERT_TRUE(one);
    EXPECT_NEAR(one->etaLower90, 2 * 30000 / 7.779440, 0.01);
    EXPECT_FALSE(WeibayesBound(0, {}, 2.0));
    // A steep shape over the worked lot's cycles: t^68 overflows a double,
    // yet the bound is plain: 68,438 as R gives it, and as exact rationals
    // with chi2(0.90, 12) = 18.549346 give it.
    const auto steep =
        WeibayesBound(5, {12000, 25500, 31000, 44000, 61000, 70000, 70000, 15000}, 68.0);
    ASSERT_TRUE(steep);
    EXPECT_NEAR(steep->etaLower90, 68438, 1);

    EXPECT_EQ(std::ceil(ZeroFailureCycles(1e6, 0.90, 0.90, 2, 5)), 2090663);
    EXPECT_EQ(std::ceil(ZeroFailureUnits(1e6, 0.90, 0.90, 2, 1.5e6)), 10);
    // beta 1: 22 units must each pass the target (ln 0.1 / ln 0.9 = 21.85).
    EXPECT_EQ(std::ceil(ZeroFailureUnits(1e6, 0.90, 0.90, 1, 1e6)), 22);
}

}  // namespace
}  // namespace varnholt
