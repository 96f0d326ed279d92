#include "window/wire_trace.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdio>

#include "instruments/qt_serial_port.h"
#include "sequencing/working_directory.h"

namespace varnholt {
namespace {

// A week of a busy bench fits in a few files of this size; older ones go.
constexpr size_t kTraceFileBytes = 5 * 1024 * 1024;
constexpr size_t kTraceFilesKept = 4;

std::shared_ptr<spdlog::logger> traceLog;

}  // namespace

std::string VisibleBytes(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r') out += "<CR>";
        else if (byte == '\n') out += "<LF>";
        else if (byte < 0x20 || byte >= 0x7F || byte == '<') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", byte);
            out += hex;
        } else out.push_back(c);
    }
    return out;
}

bool StartWireTrace(const std::string& file, std::string& errorText) {
    try {
        auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(file, kTraceFileBytes,
                                                                           kTraceFilesKept);
        traceLog = std::make_shared<spdlog::logger>("wire", sink);
        traceLog->set_pattern("%Y-%m-%d %H:%M:%S.%e %v");
        traceLog->flush_on(spdlog::level::err);
        spdlog::flush_every(std::chrono::seconds(1));
        spdlog::register_logger(traceLog);
    } catch (const spdlog::spdlog_ex& e) {
        errorText = "Cannot write the trace file " + file + " in " + WorkingDirectory() + " (" +
                    e.what() + "); change TraceFile in [Diagnostics] of kestrane.ini, or remove "
                    "it to run without a trace.";
        return false;
    }
    QtSerialPort::SetTrace([](const std::string& device, bool sent, const std::string& bytes) {
        traceLog->info("{} {} {}", device, sent ? ">" : "<", VisibleBytes(bytes));
    });
    return true;
}

}  // namespace varnholt
