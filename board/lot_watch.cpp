#include "board/lot_watch.h"

#include <QBuffer>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <cmath>

#include "board/board_page.h"
#include "charts/weibull_plot.h"

namespace varnholt {
namespace {

using namespace std::chrono_literals;

std::string Png(const LotFigures& lot) {
    QImage image(900, 700, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 6));
        DrawWeibullPlot(painter, QRectF(0, 0, 900, 700), lot);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG", 10);
    return bytes.toStdString();
}

std::string Cycles(double value) { return CountText(value).toStdString(); }

}  // namespace

LotWatch::LotWatch(std::vector<std::string> folders, BoardPlan plan, double assumedBeta)
    : folders_(std::move(folders)), plan_(plan), assumedBeta_(assumedBeta) {
    if (!folders_.empty()) thread_ = std::thread([this] { Run(); });
}

LotWatch::~LotWatch() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::shared_ptr<const LotsView> LotWatch::View() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return view_;
}

void LotWatch::Run() {
    bool first = true;
    for (;;) {
        if (Refresh() || first) Build();
        first = false;
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, 5s, [this] { return stopping_; })) return;
    }
}

bool LotWatch::Refresh() {
    bool changed = false;
    for (const std::string& folder : folders_) {
        std::vector<ReportProblem> problems;
        for (const std::string& path : LogFilesIn(folder, problems)) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stopping_) return false;
            }
            auto& file = files_[path];
            if (!file) file = std::make_unique<RunFile>(folder, path);
            file->Refresh();
            if (!file->Grew() && !file->Compacted()) file->Compact();
            uint64_t& seen = versions_[path];
            if (file->Version() != seen) {
                seen = file->Version();
                changed = true;
            }
        }
    }
    return changed;
}

void LotWatch::Build() {
    std::vector<std::shared_ptr<const RunFigures>> held;
    std::vector<const RunFigures*> runs;
    for (const auto& [path, file] : files_) {
        if (!file->problem.empty()) continue;
        held.push_back(file->SharedFigures());
        runs.push_back(held.back().get());
    }
    const UnitsAndLots ul = BuildUnitsAndLots(runs, assumedBeta_);
    auto view = std::make_shared<LotsView>();
    view->json = "[";
    for (size_t i = 0; i < ul.lots.size(); ++i) {
        const LotFigures& lot = ul.lots[i];
        view->json += (i ? ",\n " : "\n ") + LotJsonText(lot);
        const std::string kind =
            lot.kind == TestLogKind::CycleTest ? "cycle test" : "power-cut test";
        const std::string name = lot.lot.empty() ? "(no lot)" : lot.lot;
        std::string& h = view->html;
        h += "<div class=\"lot\"><h2>Lot " + HtmlText(name) + ", " + kind + "</h2>\n<p>" +
             Thousands(lot.units) + (lot.units == 1 ? " unit, " : " units, ") +
             Thousands(lot.failures) + (lot.failures == 1 ? " failure, " : " failures, ") +
             Thousands(lot.suspensions) + (lot.suspensions == 1 ? " suspension" : " suspensions") +
             "</p>\n";
        if (lot.weibull) {
            const WeibullFit& w = *lot.weibull;
            char beta[64];
            std::snprintf(beta, sizeof beta, "%.2f (90 %%: %.2f to %.2f)", w.beta, w.betaLow90,
                          w.betaHigh90);
            h += "<p>β " + std::string(beta) + "; η " + Cycles(w.eta) +
                 " cycles (90 %: " + Cycles(w.etaLow90) + " to " + Cycles(w.etaHigh90) +
                 "); B10 life " + Cycles(w.b10) + " cycles, with 90 % confidence at least " +
                 Cycles(w.b10Lower90) + ".</p>\n";
        } else {
            h += "<p>No Weibull fit: " + HtmlText(lot.weibullNote) + "</p>\n";
        }
        if (plan_.target > 0) {
            const double need =
                std::ceil(ZeroFailureCycles(plan_.target, plan_.reliability, plan_.confidence,
                                            plan_.beta, static_cast<double>(lot.units)));
            int64_t passed = 0, onWay = 0;
            for (const UnitFigures& u : ul.units) {
                if (u.lot != lot.lot || u.kind != lot.kind || u.failed) continue;
                (static_cast<double>(u.cycles) >= need ? passed : onWay) += 1;
            }
            const std::string verdict = lot.failures > 0 ? "broken" : onWay == 0 ? "met" : "open";
            view->verdicts[kind + " " + lot.lot] = verdict;
            h += "<p>Plan: each unit " + Cycles(need) + " cycles without a failure; " +
                 Thousands(passed) + " passed, " + Thousands(onWay) + " on the way, " +
                 Thousands(lot.failures) + " failed: " +
                 (verdict == "met"      ? "demonstration met"
                  : verdict == "broken" ? "demonstration broken"
                                        : "still open") +
                 ".</p>\n";
        }
        h += "<table><tr><th>Unit</th><th>Cycles</th><th>State</th><th>Bench folder</th></tr>\n";
        for (const UnitFigures& u : ul.units) {
            if (u.lot != lot.lot || u.kind != lot.kind) continue;
            h += "<tr><td>" + HtmlText(u.unit) + "</td><td>" + Thousands(u.cycles) + "</td><td>" +
                 HtmlText(UnitStateText(u)) + "</td><td>" +
                 HtmlText(u.runs.empty() ? "" : u.runs.back().folder) + "</td></tr>\n";
        }
        h += "</table>\n<img alt=\"Weibull plot of lot " + HtmlText(name) + "\" src=\"/lot/" +
             std::to_string(i) + ".png?v=" + std::to_string(std::hash<std::string>()(view->json)) +
             "\" width=\"900\" height=\"700\"></div>\n";
        view->plots.push_back(Png(lot));
    }
    view->json += ul.lots.empty() ? "]\n" : "\n]\n";
    std::lock_guard<std::mutex> lock(mutex_);
    view_ = std::move(view);
}

}  // namespace varnholt
