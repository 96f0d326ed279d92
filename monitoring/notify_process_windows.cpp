// Starting and ending the notify command on Windows: CreateProcessW, no
// shell; each argument quoted as the C runtime reads a command line.
#include <windows.h>

#include "monitoring/notifier.h"

namespace varnholt {
namespace {

std::wstring Wide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), size);
    wide.resize(wide.size() - 1);
    return wide;
}

std::wstring Quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

ChildProcess StartProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::wstring line = Quoted(Wide(program));
    for (const std::string& argument : arguments) line += L" " + Quoted(Wide(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(Wide(program).c_str(), line.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
        return kNoChild;
    }
    CloseHandle(process.hThread);
    return reinterpret_cast<ChildProcess>(process.hProcess);
}

bool ProgramEnded(ChildProcess child, int& exitCode) {
    const HANDLE process = reinterpret_cast<HANDLE>(child);
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    exitCode = GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
    return true;
}

// Windows has no process groups here: the command itself is what is timed.
// Once it is gone its handle is let go.
bool GroupRuns(ChildProcess child) {
    const HANDLE process = reinterpret_cast<HANDLE>(child);
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return true;
    CloseHandle(process);
    return false;
}

void EndGroup(ChildProcess child) {
    const HANDLE process = reinterpret_cast<HANDLE>(child);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 1000);
    CloseHandle(process);
}

void KeepFromChildren(int) {}
void KeepFromChildren(std::FILE*) {}

}  // namespace varnholt
