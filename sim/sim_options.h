#pragma once
// varnholt-sim's command line: where it works and which faults it plays.

#include <string>

namespace varnholt::sim {

struct Options {
    std::string dir = ".";
    int sampleTime = 2;
    int powerOff = 2;
    int replyMs = 20;
    int moveMs = 1500;  // longer than the second before the power cut
    bool supplySilent = false;
    bool badIdentity = false;
    int supplyErrorAt = 0;     // Nth line with an error query answers an SCPI error
    int shutterSilentAt = 0;   // Nth shutter command gets no answer
    int shutterJunkAt = 0;     // Nth shutter command answers junk before RDY
    int shutterForgeAt = 0;    // Nth shutter command answers with a log row inside
    bool split = false;        // every reply in two pieces
    int dropShutterAt = 0;     // the shutter's line goes away at its Nth command
    int dropSupplyAt = 0;      // the supply's line goes away at its Nth query line
    int floodShutterAt = 0;    // Nth shutter command answered by bytes without end
    int unplugShutterAt = 0;   // the shutter's adapter is pulled at its Nth command
    int unplugSupplyAt = 0;    // the supply's adapter is pulled at its Nth query line
    int replugAfterMs = 1000;  // and plugged back in after this long
    std::string transcript;    // file; default standard output
};

void Usage();
bool ParseOptions(int argc, char** argv, Options& o);

}  // namespace varnholt::sim
