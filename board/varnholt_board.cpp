// varnholt-board: every bench of a lab and its lots on one live web page,
// with alerts that do not depend on the bench PCs.
#include <fcntl.h>
#include <unistd.h>

#include <QGuiApplication>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <set>

#include "board/bench_board.h"
#include "board/board_link.h"
#include "board/board_options.h"
#include "board/board_page.h"
#include "board/http_server.h"
#include "board/lot_watch.h"
#include "monitoring/notifier.h"

namespace {

using namespace varnholt;

int stopPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

HttpResponse Route(const std::string& path, BenchBoard& board, const LotWatch& lots) {
    const auto view = lots.View();
    if (path == "/") {
        return {200, "text/html; charset=utf-8",
                PageHtml(BenchesHtml(board.Benches(), NowMs()), view->html)};
    }
    if (path == "/benches.html") {
        return {200, "text/html; charset=utf-8", BenchesHtml(board.Benches(), NowMs())};
    }
    if (path == "/lots.html") return {200, "text/html; charset=utf-8", view->html};
    if (path == "/api/benches") return {200, "application/json", BenchesJson(board.Benches())};
    if (path == "/api/lots") return {200, "application/json", view->json};
    if (path == "/metrics") {
        return {200, "text/plain; version=0.0.4; charset=utf-8", MetricsText(board.Benches())};
    }
    // Pictures are held in memory; no path of the URL reaches the disk.
    const std::string prefix = "/lot/", suffix = ".png";
    if (path.size() > prefix.size() + suffix.size() && path.rfind(prefix, 0) == 0 &&
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
        const std::string digits =
            path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
        if (digits.size() <= 6 && digits.find_first_not_of("0123456789") == std::string::npos) {
            const size_t index = std::stoul(digits);
            if (index < view->plots.size()) return {200, "image/png", view->plots[index]};
        }
    }
    return {404, "text/plain; charset=utf-8", "Nothing here; the board is at /.\n"};
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("varnholt-board %s\n", VARNHOLT_VERSION);
        return 0;
    }
    std::string why;
    bool help = false;
    const auto options = ParseBoardOptions(args, why, help);
    if (help) {
        std::fputs(kBoardHelp, stdout);
        return 0;
    }
    if (!options) {
        std::fprintf(stderr, "varnholt-board: %s\n", why.c_str());
        return 2;
    }
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    // The lots' plots are drawn with Qt's fonts; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    BoardLimits limits;
    limits.stallMs = static_cast<int64_t>(options->stallMinutes * 60000);
    BenchBoard board(limits);
    LotWatch lots(options->folders, options->plan, options->plan.beta);
    HttpServer server({}, [&](const std::string& path) { return Route(path, board, lots); });
    if (!server.Listen(options->listen, why)) {
        std::fprintf(stderr, "varnholt-board: %s\n", why.c_str());
        return 1;
    }
    const std::string address = options->listen.substr(0, options->listen.rfind(':'));
    std::printf("varnholt-board: serving http://%s:%d/\n", address.c_str(), server.Port());
    std::fflush(stdout);

    std::unique_ptr<Notifier> alerts;
    if (!options->alertCommand.empty()) {
        alerts = std::make_unique<Notifier>(
            options->alertCommand, std::chrono::milliseconds(0), std::chrono::seconds(10), nullptr,
            NotifierWords{"varnholt-board: the alert command", "--alert-command"});
    }
    BoardLink link(options->broker, options->topic + "/#",
                   [&board](const std::string& topic, std::string_view payload) {
                       board.Take(topic, payload, NowMs());
                   });
    std::set<std::string> planSaid;
    server.Serve(stopPipe[0], [&] {
        board.Tick(NowMs());
        std::vector<Alert> due = board.TakeAlerts();
        for (const auto& [lot, verdict] : lots.View()->verdicts) {
            if (verdict != "open" && planSaid.insert(lot + " " + verdict).second) {
                due.push_back({"plan_" + verdict, "", lot,
                               "The demonstration of " + lot + " is " + verdict + "."});
            }
        }
        for (const std::string& s : board.TakeSentences()) {
            std::fprintf(stderr, "varnholt-board: %s\n", s.c_str());
        }
        if (!alerts) return;
        for (Alert& a : due) alerts->Launch({a.event, a.bench, a.unit, a.text});
    });
    return 0;
}
