// varnholt-sim: the shutter controller and its SCPI power supply in software,
// each on a pseudo-terminal, so the program can run without the bench.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

struct Options {
    std::string dir = ".";
    int sampleTime = 2;
    int powerOff = 2;
    int replyMs = 20;
    int moveMs = 1500;  // longer than the second before the power cut
    bool supplySilent = false;
    bool badIdentity = false;
    int supplyErrorAt = 0;    // Nth line with an error query answers an SCPI error
    int shutterSilentAt = 0;  // Nth shutter command gets no answer
    int shutterJunkAt = 0;    // Nth shutter command answers junk before RDY
    int shutterForgeAt = 0;   // Nth shutter command answers with a log row inside
    bool split = false;       // every reply in two pieces
    int dropShutterAt = 0;    // the shutter's line goes away at its Nth command
    int dropSupplyAt = 0;     // the supply's line goes away at its Nth query line
    int floodShutterAt = 0;   // Nth shutter command answered by bytes without end
    int unplugShutterAt = 0;  // the shutter's adapter is pulled at its Nth command
    int unplugSupplyAt = 0;   // the supply's adapter is pulled at its Nth query line
    int replugAfterMs = 1000; // and plugged back in after this long
    std::string transcript;   // file; default standard output
};

void Usage() {
    std::cerr <<
        "usage: varnholt-sim --dir DIR [options]\n"
        "  Writes DIR/kestrane.ini for two simulated instruments on pseudo-terminals and\n"
        "  serves them until SIGINT or SIGTERM.\n"
        "  --sample-time S      SampleTimePeriod written to kestrane.ini (2)\n"
        "  --power-off S        PowerOffPeriod written to kestrane.ini (2)\n"
        "  --reply-ms MS        supply reply delay (20)\n"
        "  --move-ms MS         shutter move time (1500)\n"
        "  --supply-silent      the supply never answers\n"
        "  --bad-id             the supply names another maker\n"
        "  --supply-error-at N  the Nth error query answers -222,\"Data out of range\"\n"
        "  --shutter-silent-at N, --shutter-junk-at N   fault for the Nth shutter command\n"
        "  --shutter-forge-at N the Nth shutter command is answered with TABs and CR LF,\n"
        "                       as if to forge a log row\n"
        "  --split              replies come in two pieces\n"
        "  --drop-shutter-at N, --drop-supply-at N      that line goes away at the Nth command\n"
        "  --flood-shutter-at N the Nth shutter command is answered by a flood without CR\n"
        "  --unplug-shutter-at N, --unplug-supply-at N  that USB adapter is pulled right\n"
        "                       after answering its Nth command (supply: Nth query) and\n"
        "                       plugged back in --replug-after MS later\n"
        "                       (1000), under the same stable name\n"
        "  --transcript FILE    where the timestamped transcript goes (standard output)\n";
}

bool ParseOptions(int argc, char** argv, Options& o) {
    std::map<std::string, int*> numbers = {
        {"--sample-time", &o.sampleTime},         {"--power-off", &o.powerOff},
        {"--reply-ms", &o.replyMs},               {"--move-ms", &o.moveMs},
        {"--supply-error-at", &o.supplyErrorAt},  {"--shutter-silent-at", &o.shutterSilentAt},
        {"--shutter-junk-at", &o.shutterJunkAt},  {"--shutter-forge-at", &o.shutterForgeAt},  {"--drop-shutter-at", &o.dropShutterAt},
        {"--drop-supply-at", &o.dropSupplyAt},    {"--flood-shutter-at", &o.floodShutterAt},
        {"--unplug-shutter-at", &o.unplugShutterAt}, {"--unplug-supply-at", &o.unplugSupplyAt},
        {"--replug-after", &o.replugAfterMs}};
    std::map<std::string, bool*> flags = {{"--supply-silent", &o.supplySilent},
                                          {"--bad-id", &o.badIdentity},
                                          {"--split", &o.split}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (flags.count(arg)) {
            *flags[arg] = true;
        } else if (numbers.count(arg) && i + 1 < argc) {
            char* end = nullptr;
            const long value = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || value < 0) return false;
            *numbers[arg] = static_cast<int>(value);
        } else if (arg == "--dir" && i + 1 < argc) {
            o.dir = argv[++i];
        } else if (arg == "--transcript" && i + 1 < argc) {
            o.transcript = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

std::string Visible(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') out += "<CR>";
        else if (c == '\n') out += "<LF>";
        else if (c < 32 || c > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    return out;
}

class Transcript {
public:
    explicit Transcript(const std::string& path) {
        if (!path.empty()) file_.open(path, std::ios::app);
    }
    void Line(const std::string& text) {
        const auto now = std::chrono::system_clock::now();
        const std::time_t t = std::chrono::system_clock::to_time_t(now);
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                            now.time_since_epoch()).count() % 1000000;
        std::tm local{};
        localtime_r(&t, &local);
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%06d ", local.tm_hour, local.tm_min,
                      local.tm_sec, static_cast<int>(us));
        std::ostream& out = file_.is_open() ? static_cast<std::ostream&>(file_) : std::cout;
        out << stamp << text << std::endl;
    }

private:
    std::ofstream file_;
};

// One pseudo-terminal: the program opens `path`, we hold the master.
struct Line {
    std::string name;
    int master = -1;
    int slave = -1;  // held so the line stays up between the program's opens
    std::string path;
    std::string link;  // the stable name, as /dev/serial/by-id gives a USB adapter
    std::string pending;
    bool gone = false;
    bool unplugged = false;
    bool unplugAfterReply = false;
    bool pullPending = false;
    Clock::time_point pullAt;
    Clock::time_point replugAt;

    bool Open() {
        char buffer[128];
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master, &slave, buffer, &raw, nullptr) != 0) return false;
        path = buffer;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        if (!link.empty()) {
            ::unlink(link.c_str());
            if (::symlink(path.c_str(), link.c_str()) != 0) return false;
        }
        return true;
    }
    // Pulled: the program's side hangs up and the stable name disappears.
    void Unplug(int replugAfterMs) {
        GoAway();
        if (!link.empty()) ::unlink(link.c_str());
        unplugged = true;
        replugAt = Clock::now() + std::chrono::milliseconds(replugAfterMs);
    }
    bool Replug() {
        unplugged = false;
        gone = false;
        pending.clear();
        return Open();
    }
    void GoAway() {
        if (gone) return;
        gone = true;
        ::close(master);
        ::close(slave);
        master = slave = -1;
    }
};

struct Scheduled {
    Clock::time_point when;
    Line* line;
    std::string bytes;
    std::function<bool()> stillWanted;  // a move stops answering if the power drops
};

class Bench {
public:
    Bench(const Options& o, Transcript& t) : o_(o), t_(t) {
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
                    t_.Line(line->Replug() ? line->name + " line is plugged back in on " + line->path
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
            queue_.front().when - Clock::now()).count();
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
            reply += SupplyCommand(text.substr(start, end - start));
            start = end + 1;
        }
        if (!reply.empty() && !o_.supplySilent) Reply(supply_, o_.replyMs, reply);
    }

    std::string SupplyCommand(const std::string& raw) {
        std::string command = raw;
        while (!command.empty() && command.front() == ' ') command.erase(0, 1);
        if (command == "SYST:REM" || command == "*CLS") {
            if (command == "*CLS") errors_.clear();
            return "";
        }
        if (command == "*RST") {
            SetOutput(false);
            return "";
        }
        if (command == "*IDN?") {
            return (o_.badIdentity ? "AGILENT TECHNOLOGIES,E3631A,0,2.1-5.0-1.0"
                                   : "HEWLETT-PACKARD,E3631A,0,2.1-5.0-1.0") +
                   std::string("\r\n");
        }
        if (command.rfind("APPL P25V", 0) == 0) return "";
        if (command == "OUTP ON" || command == "OUTP OFF") {
            SetOutput(command == "OUTP ON");
            return "";
        }
        if (command == "SYST:ERR?") {
            ++errorQueries_;
            if (o_.supplyErrorAt != 0 && errorQueries_ == o_.supplyErrorAt) {
                return "-222,\"Data out of range\"\r\n";
            }
            if (!errors_.empty()) {
                const std::string first = errors_.front();
                errors_.erase(errors_.begin());
                return first + "\r\n";
            }
            return "+0,\"No error\"\r\n";
        }
        errors_.push_back("-113,\"Undefined header\"");
        return "";
    }

    void SetOutput(bool on) {
        if (on != outputOn_) t_.Line(std::string("supply output ") + (on ? "ON" : "OFF"));
        outputOn_ = on;
        ++powerEpoch_;
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
        if (!outputOn_) return;  // an unpowered controller says nothing
        if (o_.shutterSilentAt == n) return;
        std::string reply = "RDY\r";
        if (command != "OPEN" && command != "CLOSE") reply = "E1 UNKNOWN COMMAND\rRDY\r";
        if (o_.shutterJunkAt == n) reply = "E2 MOTOR STALL\rRDY\r";
        if (o_.shutterForgeAt == n) reply = "E2\tJAM\r\n77\tSUCCESS\t1:00:00 PM\tNONE\r\nRDY\r";
        // A power cut during the move aborts it: no reply.
        const long epoch = powerEpoch_;
        Reply(shutter_, o_.moveMs, reply, [this, epoch] { return powerEpoch_ == epoch; });
    }

    const Options& o_;
    Transcript& t_;
    Line supply_, shutter_;
    std::vector<Scheduled> queue_;
    std::vector<std::string> errors_;
    bool outputOn_ = false;
    long powerEpoch_ = 0;
    int supplyQueries_ = 0, errorQueries_ = 0, shutterCommands_ = 0;
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
