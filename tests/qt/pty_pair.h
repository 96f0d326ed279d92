#pragma once

#include <string>

namespace varnholt::testing {

// A pseudo-terminal pair: the program's side opens slavePath like a serial
// device, the test plays the instrument on the master side.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    void Write(const std::string& bytes);
    // Reads what the program sent, waiting up to timeoutMs for `count` bytes.
    std::string Read(size_t count, int timeoutMs = 2000);
    // The instrument's side goes away, as when a USB adapter is pulled.
    void Hangup();

    int master = -1;
    std::string slavePath;

private:
    int slave_ = -1;  // held open so the line stays up while the program reopens it
};

}  // namespace varnholt::testing
