#include "window/event_pump.h"

#include <QCoreApplication>
#include <QEventLoop>

#include "instruments/qt_serial_port.h"
#include "timing/clock.h"

namespace varnholt {

void InstallQtEventPump() {
    InstallEventPump([] {
        static uint64_t inputsSeen = 0;
        const uint64_t delivered = QtSerialPort::InputsDelivered();
        if (delivered != inputsSeen) {
            // Bytes were just read: the reply may be complete, so the caller
            // gets to look before we wait for anything else.
            inputsSeen = delivered;
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            return;
        }
        // The 100 ms tick timer bounds this wait.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    });
}

}  // namespace varnholt
