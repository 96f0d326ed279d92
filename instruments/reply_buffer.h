#pragma once

#include <cstddef>
#include <string>

namespace varnholt {

// A reply is collected for at most 10 s; a device that floods the line
// without ever ending a reply must not grow it without limit. The head (what
// a reply is judged by) and the tail (what ends it) are kept.
constexpr size_t kMaxReplyLength = 4096;
constexpr size_t kReplyTailKept = 16;

inline void AppendBounded(std::string& reply, const std::string& more) {
    reply += more;
    if (reply.size() > kMaxReplyLength) {
        const std::string tail = reply.substr(reply.size() - kReplyTailKept);
        reply.resize(kMaxReplyLength - kReplyTailKept);
        reply += tail;
    }
}

}  // namespace varnholt
