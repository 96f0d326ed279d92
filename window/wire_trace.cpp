#include "window/wire_trace.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <cstdio>

#include "instruments/qt_serial_port.h"
#include "monitoring/notifier.h"
#include "runlog/working_directory.h"
#include "settings/trace_file.h"

namespace varnholt {
namespace {

std::shared_ptr<spdlog::logger> traceLog;
std::atomic<bool> writeFailureTold{false};

// spdlog's message ends with the system's reason: "Failed flush to file
// trace.txt: No space left on device".
std::string Cause(const std::string& message) {
    const size_t colon = message.rfind(": ");
    return colon == std::string::npos ? message : message.substr(colon + 2);
}

}  // namespace

std::string VisibleBytes(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r')
            out += "<CR>";
        else if (byte == '\n')
            out += "<LF>";
        else if (byte < 0x20 || byte >= 0x7F || byte == '<') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", byte);
            out += hex;
        } else
            out.push_back(c);
    }
    return out;
}

bool StartWireTrace(const std::string& file, std::string& errorText) {
    try {
        // spdlog opens the file, and each one after a rotation, without
        // close-on-exec: a started program would hold the trace open.
        spdlog::file_event_handlers handlers;
        handlers.after_open = [](const spdlog::filename_t&, std::FILE* opened) {
            KeepFromChildren(opened);
        };
        auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            file, kTraceFileBytes, kTraceFilesKept, false, handlers);
        traceLog = std::make_shared<spdlog::logger>("wire", sink);
        traceLog->set_pattern("%Y-%m-%d %H:%M:%S.%e %v");
        traceLog->flush_on(spdlog::level::err);
        // Said once, on the program's standard error: the test goes on, and
        // the status line stays the test's.
        writeFailureTold = false;
        const std::string where = file + " in " + WorkingDirectory();
        traceLog->set_error_handler([where](const std::string& message) {
            if (writeFailureTold.exchange(true)) return;
            std::fprintf(stderr,
                         "varnholt: Cannot write the trace file %s (%s); the test goes on, but "
                         "the wire trace may miss lines: free some disk space, or change "
                         "TraceFile in [Diagnostics] of kestrane.ini.\n",
                         where.c_str(), Cause(message).c_str());
        });
        spdlog::flush_every(std::chrono::seconds(1));
        spdlog::register_logger(traceLog);
    } catch (const spdlog::spdlog_ex& e) {
        errorText = "Cannot write the trace file " + file + " in " + WorkingDirectory() + " (" +
                    e.what() +
                    "); change TraceFile in [Diagnostics] of kestrane.ini, or remove "
                    "it to run without a trace.";
        return false;
    }
    QtSerialPort::SetTrace([](const std::string& device, bool sent, const std::string& bytes) {
        traceLog->info("{} {} {}", device, sent ? ">" : "<", VisibleBytes(bytes));
    });
    return true;
}

}  // namespace varnholt
