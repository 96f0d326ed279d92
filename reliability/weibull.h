#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnholt {

// Cycles to failure of the units that failed, and cycles survived by the
// others (suspensions: still running, taken off, or ended by a bench fault).
struct LifeData {
    std::vector<double> failures, suspensions;
};

// The two-parameter Weibull fitted by maximum likelihood, as R's
// survreg(Surv(t, failed) ~ 1, dist = "weibull") gives it, with
// likelihood-ratio bounds. A bound the likelihood does not close within
// reach is NaN.
struct WeibullFit {
    double beta = 0, eta = 0;
    double betaLow90 = 0, betaHigh90 = 0;  // two-sided 90 %
    double etaLow90 = 0, etaHigh90 = 0;
    double b1 = 0, b10 = 0, b50 = 0;
    double b10Lower90 = 0;  // one-sided 90 %
    double logLikelihood = 0;
};

// None (note says why) under 2 failures at distinct cycle counts, or for
// times that are not positive and finite.
std::optional<WeibullFit> FitWeibull(const LifeData& data, std::string& note);

// Unreliability of each failure by Johnson's adjusted rank and Bernard's
// approximation (adjusted rank - 0.3) / (n + 0.4), so that suspensions count;
// in order of cycles.
struct PlotPoint {
    double cycles, unreliability;
};
std::vector<PlotPoint> MedianRanks(const LifeData& life);

// The life by which percent % have failed.
double BLife(double beta, double eta, double percent);

// The two-sided likelihood-ratio interval of the B-life at percent, at the
// given confidence (0.90: each end a 95 % one-sided bound). data must be the
// data fit came from.
struct Interval {
    double low = 0, high = 0;
};
Interval BLifeInterval(const LifeData& data, const WeibullFit& fit, double percent,
                       double confidence);

// With the shape assumed: the 90 % lower bound on eta from r failures and
// every unit's cycles, (2 sum t^beta / chi2(0.90, 2r + 2))^(1/beta), and the
// B10 life it gives. None without cycles.
struct Weibayes {
    double betaAssumed = 2.0, etaLower90 = 0, b10Lower90 = 0;
};
std::optional<Weibayes> WeibayesBound(int64_t failures, const std::vector<double>& cycles,
                                      double beta);

// A zero-failure test: n units each passing t cycles without a failure show
// reliability R at the target with confidence C when
// t = target (ln(1 - C) / (n ln R))^(1/beta).
double ZeroFailureCycles(double target, double reliability, double confidence, double beta,
                         double units);
double ZeroFailureUnits(double target, double reliability, double confidence, double beta,
                        double cycles);

}  // namespace varnholt
