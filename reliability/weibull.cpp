#include "reliability/weibull.h"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/tools/roots.hpp>
#include <cmath>
#include <limits>
#include <set>

namespace varnholt {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double ChiSquaredQuantile(double p, double degreesOfFreedom) {
    return boost::math::quantile(boost::math::chi_squared(degreesOfFreedom), p);
}

// The data divided by its largest time: t^beta stays finite for any shape a
// fit can reach.
struct Scaled {
    std::vector<double> logFailures, logAll;
    double r = 0, sumLogFailures = 0, scale = 1;

    Scaled(const LifeData& data) {
        for (const double t : data.failures) scale = std::max(scale, t);
        for (const double t : data.suspensions) scale = std::max(scale, t);
        for (const double t : data.failures) {
            logFailures.push_back(std::log(t / scale));
            sumLogFailures += logFailures.back();
        }
        logAll = logFailures;
        for (const double t : data.suspensions) logAll.push_back(std::log(t / scale));
        r = static_cast<double>(logFailures.size());
    }

    // The log-likelihood with the scale parameter eta = exp(logX) k^(-1/beta):
    // k = 1 gives eta = x; k = -ln(1 - p) makes x the B-life at p. Constants
    // that do not move with the parameters are left out.
    double LogLikelihood(double beta, double logX, double k) const {
        double sum = 0;
        for (const double lu : logAll) sum += std::exp(beta * (lu - logX));
        return r * std::log(beta) - r * beta * logX + r * std::log(k) +
               (beta - 1) * sumLogFailures - k * sum;
    }

    // d/d beta of the above: strictly decreasing in beta, so one root.
    double Slope(double beta, double logX, double k) const {
        double sum = 0;
        for (const double lu : logAll) sum += std::exp(beta * (lu - logX)) * (lu - logX);
        return r / beta - r * logX + sumLogFailures - k * sum;
    }

    // eta's maximum for a given beta, in closed form: eta^beta = sum t^beta / r.
    double ProfileInBeta(double beta, double* logEta = nullptr) const {
        double sum = 0;
        for (const double lu : logAll) sum += std::exp(beta * lu);
        const double le = std::log(sum / r) / beta;
        if (logEta != nullptr) *logEta = le;
        return LogLikelihood(beta, le, 1.0);
    }

    // The best beta for x held fixed, and the log-likelihood there.
    double ProfileAt(double logX, double k, double betaStart) const {
        const auto slope = [&](double b) { return Slope(b, logX, k); };
        // A slope that overflows to -inf is negative all the same, but the
        // solver needs finite ends: narrow such an end until it is.
        double lo = betaStart, flo = slope(lo);
        for (int i = 0; i < 2000 && !(flo > 0); ++i) flo = slope(lo /= 2);
        double hi = lo * 2, fhi = slope(hi);
        for (int i = 0; i < 200 && fhi > 0; ++i) {
            lo = hi;
            flo = fhi;
            fhi = slope(hi *= 2);
        }
        for (int i = 0; i < 200 && !std::isfinite(fhi); ++i) {
            const double mid = (lo + hi) / 2, f = slope(mid);
            if (f > 0) {
                lo = mid;
                flo = f;
            } else {
                hi = mid;
                fhi = f;
            }
        }
        if (!(flo > 0) || !(fhi < 0)) return -std::numeric_limits<double>::infinity();
        std::uintmax_t iterations = 200;
        const auto [a, b] = boost::math::tools::toms748_solve(
            slope, lo, hi, flo, fhi, boost::math::tools::eps_tolerance<double>(50), iterations);
        return LogLikelihood((a + b) / 2, logX, k);
    }
};

// Where f (falling away from its maximum at from, towards to) crosses
// level; NaN when it does not within reach. f is read in steps that double.
template <class F>
double Crossing(const F& f, double from, double step, double level, double limit) {
    double inside = from, outside = from;
    double fin = f(from) - level, fout = fin;
    for (int i = 0; i < 60; ++i) {
        outside = from + step;
        if ((step > 0 && outside > limit) || (step < 0 && outside < limit)) outside = limit;
        fout = f(outside) - level;
        if (fout < 0) break;
        inside = outside;
        fin = fout;
        if (outside == limit) return kNaN;
        step *= 2;
    }
    for (int i = 0; i < 200 && fout < 0 && !std::isfinite(fout); ++i) {
        const double mid = (inside + outside) / 2, fm = f(mid) - level;
        if (fm > 0) {
            inside = mid;
            fin = fm;
        } else {
            outside = mid;
            fout = fm;
        }
    }
    if (!(fout < 0) || !(fin > 0) || !std::isfinite(fout)) return kNaN;
    if (inside > outside) {
        std::swap(inside, outside);
        std::swap(fin, fout);
    }
    std::uintmax_t iterations = 200;
    const auto [a, b] = boost::math::tools::toms748_solve(
        [&](double x) { return f(x) - level; }, inside, outside, fin, fout,
        boost::math::tools::eps_tolerance<double>(50), iterations);
    return (a + b) / 2;
}

// A two-sided interval of x = exp(logX) at one confidence, x in the data's
// scale; the profile log-likelihood falls chi2(confidence, 1)/2 below its
// maximum at each end.
Interval ProfileInterval(const Scaled& s, const WeibullFit& fit, double logXHat, double k,
                         double confidence) {
    const double level = fit.logLikelihood - ChiSquaredQuantile(confidence, 1) / 2;
    const auto profile = [&](double logX) { return s.ProfileAt(logX, k, fit.beta); };
    // Searched out to e^40 times the longest life either way: past that a
    // bound is no figure a lab can use.
    const double low = Crossing(profile, logXHat, -0.05, level, -40.0);
    const double high = Crossing(profile, logXHat, 0.05, level, 40.0);
    return {std::exp(low) * s.scale, std::exp(high) * s.scale};
}

bool Usable(double t) { return std::isfinite(t) && t > 0; }

}  // namespace

std::vector<PlotPoint> MedianRanks(const LifeData& life) {
    struct Unit {
        double t;
        bool failed;
    };
    std::vector<Unit> units;
    for (const double t : life.failures) units.push_back({t, true});
    for (const double t : life.suspensions) units.push_back({t, false});
    // At equal cycles a failure comes before a suspension: the suspended unit
    // was known to outlive it.
    std::sort(units.begin(), units.end(), [](const Unit& a, const Unit& b) {
        return a.t != b.t ? a.t < b.t : a.failed > b.failed;
    });
    const auto n = static_cast<double>(units.size());
    double previous = 0;
    std::vector<PlotPoint> points;
    for (size_t i = 0; i < units.size(); ++i) {
        if (!units[i].failed) continue;
        const double reverse = n - static_cast<double>(i);
        previous += (n + 1 - previous) / (1 + reverse);
        points.push_back({units[i].t, (previous - 0.3) / (n + 0.4)});
    }
    return points;
}

double BLife(double beta, double eta, double percent) {
    return eta * std::pow(-std::log1p(-percent / 100.0), 1.0 / beta);
}

std::optional<WeibullFit> FitWeibull(const LifeData& data, std::string& note) {
    std::set<double> distinct;
    for (const double t : data.failures) {
        if (!Usable(t)) {
            note = "a unit's cycles to failure are not a positive number";
            return std::nullopt;
        }
        distinct.insert(t);
    }
    for (const double t : data.suspensions) {
        if (!Usable(t)) {
            note =
                "a unit without a failure has no cycles; a Weibull fit needs every unit's "
                "cycles above 0";
            return std::nullopt;
        }
    }
    if (distinct.size() < 2) {
        note = data.failures.empty() ? "no shutter has failed yet; see the Weibayes bound"
               : data.failures.size() == 1
                   ? "only 1 shutter has failed; a Weibull fit needs 2 failures at "
                     "different cycle counts (see the Weibayes bound)"
                   : "every failure came at the same cycle count; a Weibull fit needs 2 "
                     "failures at different cycle counts";
        return std::nullopt;
    }
    const Scaled s(data);
    // The score in beta falls from +inf at 0 to below 0, once.
    const auto score = [&](double beta) {
        double sum = 0, weighted = 0;
        for (const double lu : s.logAll) {
            const double w = std::exp(beta * lu);
            sum += w;
            weighted += w * lu;
        }
        return 1.0 / beta + s.sumLogFailures / s.r - weighted / sum;
    };
    double lo = 1, hi = 1;
    double flo = score(lo), fhi = flo;
    for (int i = 0; i < 60 && flo <= 0; ++i) flo = score(lo /= 2);
    for (int i = 0; i < 60 && fhi >= 0; ++i) fhi = score(hi *= 2);
    if (!(flo > 0) || !(fhi < 0)) {
        note = "the likelihood has no maximum for these cycle counts";
        return std::nullopt;
    }
    std::uintmax_t iterations = 200;
    const auto [a, b] = boost::math::tools::toms748_solve(
        score, lo, hi, flo, fhi, boost::math::tools::eps_tolerance<double>(52), iterations);
    WeibullFit fit;
    fit.beta = (a + b) / 2;
    double logEta = 0;
    fit.logLikelihood = s.ProfileInBeta(fit.beta, &logEta);
    fit.eta = std::exp(logEta) * s.scale;

    const double level = fit.logLikelihood - ChiSquaredQuantile(0.90, 1) / 2;
    const auto inBeta = [&](double logBeta) { return s.ProfileInBeta(std::exp(logBeta)); };
    const double logBeta = std::log(fit.beta);
    fit.betaLow90 = std::exp(Crossing(inBeta, logBeta, -0.05, level, -30.0));
    fit.betaHigh90 = std::exp(Crossing(inBeta, logBeta, 0.05, level, 30.0));
    const Interval eta = ProfileInterval(s, fit, logEta, 1.0, 0.90);
    fit.etaLow90 = eta.low;
    fit.etaHigh90 = eta.high;
    fit.b1 = BLife(fit.beta, fit.eta, 1);
    fit.b10 = BLife(fit.beta, fit.eta, 10);
    fit.b50 = BLife(fit.beta, fit.eta, 50);
    fit.b10Lower90 = BLifeInterval(data, fit, 10, 0.80).low;
    note.clear();
    return fit;
}

Interval BLifeInterval(const LifeData& data, const WeibullFit& fit, double percent,
                       double confidence) {
    const Scaled s(data);
    const double k = -std::log1p(-percent / 100.0);
    const double logX = std::log(BLife(fit.beta, fit.eta, percent) / s.scale);
    return ProfileInterval(s, fit, logX, k, confidence);
}

std::optional<Weibayes> WeibayesBound(int64_t failures, const std::vector<double>& cycles,
                                      double beta) {
    if (!(beta > 0) || !std::isfinite(beta) || failures < 0) return std::nullopt;
    // Scaled by the longest life, the sum stays between 1 and n: t^beta
    // itself overflows for a steep shape (beta 68 over 10^4 cycles).
    double longest = 0;
    for (const double t : cycles) {
        if (Usable(t)) longest = std::max(longest, t);
    }
    if (!(longest > 0)) return std::nullopt;
    double sum = 0;
    for (const double t : cycles) {
        if (Usable(t)) sum += std::pow(t / longest, beta);
    }
    Weibayes w;
    w.betaAssumed = beta;
    const double nu = 2.0 * static_cast<double>(failures) + 2.0;
    w.etaLower90 =
        longest * std::exp((std::log(2.0 * sum) - std::log(ChiSquaredQuantile(0.90, nu))) / beta);
    w.b10Lower90 = BLife(beta, w.etaLower90, 10);
    return w;
}

double ZeroFailureCycles(double target, double reliability, double confidence, double beta,
                         double units) {
    return target * std::pow(std::log1p(-confidence) / (units * std::log(reliability)), 1.0 / beta);
}

double ZeroFailureUnits(double target, double reliability, double confidence, double beta,
                        double cycles) {
    return std::log1p(-confidence) / (std::log(reliability) * std::pow(cycles / target, beta));
}

}  // namespace varnholt
