#include "runlog/failure_class.h"

#include <gtest/gtest.h>

namespace varnholt {
namespace {

TEST(FailureClassTest, BenchFaultsApartFromShutterFailures) {
    const struct {
        const char* error;
        FailureClass expected;
    } cases[] = {
        // The supply's steps, whatever it answered.
        {"PowerOn Error: -222,\"Data out of range\"", FailureClass::Bench},
        {"PowerOff Error: -1 Timed out waiting for power supply", FailureClass::Bench},
        {"PowerSupply Error: -1 Timed out waiting for response", FailureClass::Bench},
        // Our own line faults, after any step.
        {"OpenShutter Error: -1 Serial port 1 (/dev/ttyUSB0) was disconnected",
         FailureClass::Bench},
        {"CloseShutter Error: -1 Serial port 12 (COM12) is in use by another program",
         FailureClass::Bench},
        {"-1 Serial port 2 (/dev/serial/by-id/usb-x) was disconnected", FailureClass::Bench},
        // The shutter's replies and its time-out.
        {"OpenShutter Error: -1 Timed out waiting for shutter response", FailureClass::Shutter},
        {"CloseShutter Error: JAM\\r", FailureClass::Shutter},
        {"OpenShutter Error: ", FailureClass::Shutter},
        // Look-alikes count against the shutter: a failure is never hidden.
        {"OpenShutter Error: -1 Serial port x (COM1) was disconnected", FailureClass::Shutter},
        {"OpenShutter Error: -1 Serial port 1 (COM1) was disconnected soon", FailureClass::Shutter},
        {"OpenShutter Error: JAM: -1 Serial port 1 (COM1) was disconnected", FailureClass::Shutter},
        {"poweron error: -222", FailureClass::Shutter},
        {"A", FailureClass::Shutter},
        {"", FailureClass::Shutter},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClassOfFailure(c.error), c.expected) << c.error;
    }
    EXPECT_STREQ(FailureClassName(FailureClass::Bench), "bench");
}

}  // namespace
}  // namespace varnholt
