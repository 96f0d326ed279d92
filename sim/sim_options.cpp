#include "sim/sim_options.h"

#include <cstdlib>
#include <iostream>
#include <map>

namespace varnholt::sim {

void Usage() {
    std::cerr
        << "usage: varnholt-sim --dir DIR [options]\n"
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
    std::map<std::string, int*> numbers = {{"--sample-time", &o.sampleTime},
                                           {"--power-off", &o.powerOff},
                                           {"--reply-ms", &o.replyMs},
                                           {"--move-ms", &o.moveMs},
                                           {"--supply-error-at", &o.supplyErrorAt},
                                           {"--shutter-silent-at", &o.shutterSilentAt},
                                           {"--shutter-junk-at", &o.shutterJunkAt},
                                           {"--shutter-forge-at", &o.shutterForgeAt},
                                           {"--drop-shutter-at", &o.dropShutterAt},
                                           {"--drop-supply-at", &o.dropSupplyAt},
                                           {"--flood-shutter-at", &o.floodShutterAt},
                                           {"--unplug-shutter-at", &o.unplugShutterAt},
                                           {"--unplug-supply-at", &o.unplugSupplyAt},
                                           {"--replug-after", &o.replugAfterMs}};
    std::map<std::string, bool*> flags = {
        {"--supply-silent", &o.supplySilent}, {"--bad-id", &o.badIdentity}, {"--split", &o.split}};
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

}  // namespace varnholt::sim
