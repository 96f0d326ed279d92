#include "runlog/json.h"

#include <cmath>

#include "runlog/utf8_text.h"

namespace varnholt {
namespace {

void Write(const Json& value, int depth, bool breakTop, std::string& out) {
    switch (value.type()) {
        case Json::value_t::object: {
            out += '{';
            bool first = true;
            for (const auto& [key, member] : value.items()) {
                if (!first) out += breakTop && depth == 0 ? ",\n " : ", ";
                first = false;
                Write(Json(key), depth + 1, breakTop, out);
                out += ": ";
                Write(member, depth + 1, breakTop, out);
            }
            out += '}';
            return;
        }
        case Json::value_t::array: {
            out += '[';
            bool first = true;
            for (const Json& item : value) {
                if (breakTop && depth == 1) {
                    out += first ? "\n  " : ",\n  ";
                } else if (!first) {
                    out += ", ";
                }
                first = false;
                Write(item, depth + 1, breakTop, out);
            }
            out += ']';
            return;
        }
        case Json::value_t::string:
            out += Json(ValidUtf8(value.get_ref<const std::string&>())).dump();
            return;
        case Json::value_t::number_float: {
            const double number = value.get<double>();
            out += std::isfinite(number) ? value.dump() : "null";
            return;
        }
        default:
            out += value.dump();
            return;
    }
}

}  // namespace

std::string JsonText(const Json& value, bool breakTop) {
    std::string out;
    Write(value, 0, breakTop, out);
    return out;
}

Json JsonFigure(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

}  // namespace varnholt
