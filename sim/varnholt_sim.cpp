// varnholt-sim: the shutter controller and its SCPI power supply in software,
// each on a pseudo-terminal, so the program can run without the bench.

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "sim/pty_line.h"
#include "sim/sim_options.h"
#include "sim/supply_model.h"

namespace {

using namespace varnholt::sim;

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

struct Scheduled {
    Clock::time_point when;
    Line* line;
    std::string bytes;
    std::function<bool()> stillWanted;  // a move stops answering if the power drops
};

class Bench {
public:
    Bench(const Options& o, Transcript& t) : o_(o), t_(t), supplyModel_(o, t) {
        supply_.name = "supply";
        shutter_.name = "shutter";
    }

    bool Open(const std::string& folder) {
        char* real = ::realpath(folder.c_str(), nullptr);
        const std::string dir = real != nullptr ? real : folder;
        std::free(real);
        supply_.link = dir + "/usb-varnholt-sim-supply";
        shutter_.link = dir + "/usb-varnholt-sim-shutter";
        return supply_.Open() && shutter_.Open();
    }
    Line& supply() { return supply_; }
    Line& shutter() { return shutter_; }

    void Run() {
        while (!stopRequested) {
            for (Line* line : {&supply_, &shutter_}) {
                if (line->pullPending && Clock::now() >= line->pullAt) {
                    line->pullPending = false;
                    t_.Line(line->name + " line is pulled");
                    line->Unplug(o_.replugAfterMs);
                }
                if (line->unplugged && Clock::now() >= line->replugAt) {
                    t_.Line(line->Replug()
                                ? line->name + " line is plugged back in on " + line->path
                                : line->name + " line cannot be plugged back in");
                }
            }
            pollfd fds[2];
            int n = 0;
            Line* lines[2];
            for (Line* line : {&supply_, &shutter_}) {
                if (line->gone) continue;
                fds[n] = {line->master, POLLIN, 0};
                lines[n++] = line;
            }
            ::poll(fds, static_cast<nfds_t>(n), TimeoutMs());
            for (int i = 0; i < n; ++i) {
                if (fds[i].revents & POLLIN) Read(*lines[i]);
            }
            SendDue();
            Flood();
        }
        t_.Line("stopping");
    }

private:
    int TimeoutMs() const {
        if (flooding_) return 1;
        if (supply_.unplugged || shutter_.unplugged || supply_.pullPending ||
            shutter_.pullPending) {
            return 10;
        }
        if (queue_.empty()) return 50;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                              queue_.front().when - Clock::now())
                              .count();
        return wait < 0 ? 0 : wait > 50 ? 50 : static_cast<int>(wait);
    }

    void Read(Line& line) {
        char buffer[4096];
        const ssize_t got = ::read(line.master, buffer, sizeof buffer);
        if (got <= 0) return;
        line.pending.append(buffer, static_cast<size_t>(got));
        if (&line == &supply_) {
            for (size_t end; (end = line.pending.find("\r\n")) != std::string::npos;) {
                const std::string text = line.pending.substr(0, end);
                line.pending.erase(0, end + 2);
                t_.Line("supply  < " + Visible(text + "\r\n"));
                SupplyLine(text);
            }
        } else {
            for (size_t end; (end = line.pending.find('\r')) != std::string::npos;) {
                const std::string text = line.pending.substr(0, end);
                line.pending.erase(0, end + 1);
                t_.Line("shutter < " + Visible(text + "\r"));
                ShutterCommand(text);
            }
        }
        // A program that never ends its lines must not grow this without limit.
        if (line.pending.size() > 65536) line.pending.clear();
    }

    void Reply(Line& line, int delayMs, const std::string& bytes,
               std::function<bool()> stillWanted = nullptr) {
        const auto when = Clock::now() + std::chrono::milliseconds(delayMs);
        if (o_.split && bytes.size() > 1) {
            const size_t half = bytes.size() / 2;
            Insert({when, &line, bytes.substr(0, half), stillWanted});
            Insert({when + std::chrono::milliseconds(15), &line, bytes.substr(half), stillWanted});
        } else {
            Insert({when, &line, bytes, stillWanted});
        }
    }

    void Insert(Scheduled s) {
        auto it = queue_.begin();
        while (it != queue_.end() && it->when <= s.when) ++it;
        queue_.insert(it, std::move(s));
    }

    void SendDue() {
        const auto now = Clock::now();
        while (!queue_.empty() && queue_.front().when <= now) {
            Scheduled s = std::move(queue_.front());
            queue_.erase(queue_.begin());
            if (s.line->gone) continue;
            if (s.stillWanted && !s.stillWanted()) continue;
            Write(*s.line, s.bytes);
            if (s.line->unplugAfterReply) {
                // A moment later: a hang-up throws away what the program has
                // not read yet, and a real cable is not pulled mid-reply.
                s.line->unplugAfterReply = false;
                s.line->pullAt = now + std::chrono::milliseconds(50);
                s.line->pullPending = true;
            }
        }
    }

    void Write(Line& line, const std::string& bytes) {
        if (line.gone) return;
        t_.Line(line.name + (line.name == "supply" ? "  > " : " > ") + Visible(bytes));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(line.master, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
    }

    void Flood() {
        if (!flooding_ || shutter_.gone) return;
        // About 1 MB/s, far beyond any real line, for five seconds.
        if (Clock::now() > floodEnd_) {
            flooding_ = false;
            t_.Line("shutter > (flood ends)");
            return;
        }
        const std::string burst(1024, 'Z');
        ssize_t ignored = ::write(shutter_.master, burst.data(), burst.size());
        (void)ignored;
    }

    void SupplyLine(const std::string& text) {
        if (text.find("SYST:ERR?") != std::string::npos || text == "*IDN?") {
            ++supplyQueries_;
            // Pulled right after this query is answered.
            if (o_.unplugSupplyAt == supplyQueries_) supply_.unplugAfterReply = true;
            if (o_.dropSupplyAt != 0 && supplyQueries_ >= o_.dropSupplyAt) {
                t_.Line("supply line goes away");
                supply_.GoAway();
                return;
            }
        }
        std::string reply;
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find(';', start);
            if (end == std::string::npos) end = text.size();
            reply += supplyModel_.Command(text.substr(start, end - start));
            start = end + 1;
        }
        if (!reply.empty() && !o_.supplySilent) Reply(supply_, o_.replyMs, reply);
    }

    void ShutterCommand(const std::string& command) {
        ++shutterCommands_;
        const int n = shutterCommands_;
        if (o_.unplugShutterAt == n) shutter_.unplugAfterReply = true;
        if (o_.dropShutterAt != 0 && n >= o_.dropShutterAt) {
            t_.Line("shutter line goes away");
            shutter_.GoAway();
            return;
        }
        if (o_.floodShutterAt == n) {
            flooding_ = true;
            floodEnd_ = Clock::now() + std::chrono::seconds(5);
            t_.Line("shutter > (flood without CR begins)");
            return;
        }
        if (!supplyModel_.outputOn) return;  // an unpowered controller says nothing
        if (o_.shutterSilentAt == n) return;
        std::string reply = "RDY\r";
        if (command != "OPEN" && command != "CLOSE") reply = "E1 UNKNOWN COMMAND\rRDY\r";
        if (o_.shutterJunkAt == n) reply = "E2 MOTOR STALL\rRDY\r";
        if (o_.shutterForgeAt == n) reply = "E2\tJAM\r\n77\tSUCCESS\t1:00:00 PM\tNONE\r\nRDY\r";
        // A power cut during the move aborts it: no reply.
        const long epoch = supplyModel_.powerEpoch;
        Reply(shutter_, o_.moveMs, reply,
              [this, epoch] { return supplyModel_.powerEpoch == epoch; });
    }

    const Options& o_;
    Transcript& t_;
    Line supply_, shutter_;
    std::vector<Scheduled> queue_;
    SupplyModel supplyModel_;
    int supplyQueries_ = 0, shutterCommands_ = 0;
    bool flooding_ = false;
    Clock::time_point floodEnd_;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        Usage();
        return 2;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    Transcript transcript(o.transcript);
    Bench bench(o, transcript);
    if (!bench.Open(o.dir)) {
        std::cerr << "varnholt-sim: cannot open pseudo-terminals: " << std::strerror(errno) << "\n";
        return 1;
    }
    const std::string ini = o.dir + "/kestrane.ini";
    std::ofstream file(ini, std::ios::trunc);
    file << "; written by varnholt-sim for its simulated bench\n"
         << "[TestPeriods]\nSampleTimePeriod=" << o.sampleTime << "\nPowerOffPeriod=" << o.powerOff
         << "\n\n[Communications]\nPowerSupplyPort=2\nShutterPort=1\n\n[SerialDevices]\nPort1="
         << bench.shutter().link << "\nPort2=" << bench.supply().link << "\n";
    file.close();
    if (!file) {
        std::cerr << "varnholt-sim: cannot write " << ini << "\n";
        return 1;
    }
    std::cout << "varnholt-sim: shutter on " << bench.shutter().link << " -> "
              << bench.shutter().path << ", power supply on " << bench.supply().link << " -> "
              << bench.supply().path << ", configuration in " << ini << std::endl;
    std::cout << "READY" << std::endl;
    bench.Run();
    return 0;
}
