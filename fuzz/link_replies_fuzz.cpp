// Whatever a device sends, in whatever pieces, the links end within their
// limits with a bounded text and judge it by their rules.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "instruments/leading_number.h"
#include "instruments/line_exchange.h"
#include "instruments/power_supply.h"
#include "instruments/shutter.h"
#include "tests/support/fake_bench.h"
#include "timing/clock.h"

using namespace varnholt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    testing::SimulatedPump pump;
    testing::FakePort supplyPort, shutterPort;
    pump.Attach(supplyPort);
    pump.Attach(shutterPort);
    BindPowerSupplyPort(&supplyPort);
    BindShutterPort(&shutterPort);
    std::string errorText;
    ShutterInit(1, errorText);

    // First byte: how many ticks apart the pieces come; then pieces split at 0xFE.
    const int spacing = data[0] % 8;
    int64_t tick = 0;
    std::string piece;
    for (size_t i = 1; i <= size; ++i) {
        if (i == size || data[i] == 0xFE) {
            supplyPort.ArriveAt(tick, piece);
            shutterPort.ArriveAt(tick, piece);
            piece.clear();
            tick += spacing;
        } else {
            piece.push_back(static_cast<char>(data[i]));
        }
    }

    const bool opened = OpenShutter(errorText);
    if (AppTicks() > 101 || errorText.size() > kMaxReplyLength) std::abort();
    if (opened != errorText.empty()) std::abort();

    // The supply's start-up takes the same pieces as its replies.
    const int64_t before = AppTicks();
    const bool up = PowerSupplyInit(2, errorText);
    if (AppTicks() - before > 3 * 21 || errorText.size() > kMaxReplyLength + 8) std::abort();
    if (up != errorText.empty()) std::abort();
    if (up) {
        const bool on = PowerOn(errorText);
        if (on && LeadingNumber(errorText) != 0.0) std::abort();
    }

    BindPowerSupplyPort(nullptr);
    BindShutterPort(nullptr);
    return 0;
}
