#include "runlog/json.h"

#include <cmath>

#include "runlog/utf8_text.h"

namespace varnholt {
namespace {

using Serializer = nlohmann::detail::serializer<Json>;

void Write(const Json& value, Serializer& serializer, std::string& out);

// Our keys are plain ASCII words: written as they are, without a value made
// for each; any other goes through the library.
void WriteKey(const std::string& key, Serializer& serializer, std::string& out) {
    for (const char c : key) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            serializer.dump(Json(ValidUtf8(key)), false, false, 0);
            return;
        }
    }
    out += '"';
    out += key;
    out += '"';
}

// One serializer for the whole text: the library's escaping and number
// forms, without a serializer (and its buffers) made for every value.
void Write(const Json& value, Serializer& serializer, std::string& out) {
    switch (value.type()) {
        case Json::value_t::object: {
            out += '{';
            bool first = true;
            for (const auto& [key, member] : value.items()) {
                if (!first) out += ", ";
                first = false;
                WriteKey(key, serializer, out);
                out += ": ";
                Write(member, serializer, out);
            }
            out += '}';
            return;
        }
        case Json::value_t::array: {
            out += '[';
            bool first = true;
            for (const Json& item : value) {
                if (!first) out += ", ";
                first = false;
                Write(item, serializer, out);
            }
            out += ']';
            return;
        }
        case Json::value_t::string: {
            const std::string& text = value.get_ref<const std::string&>();
            if (IsValidUtf8(text)) {
                serializer.dump(value, false, false, 0);
            } else {
                serializer.dump(Json(ValidUtf8(text)), false, false, 0);
            }
            return;
        }
        case Json::value_t::number_float:
            if (!std::isfinite(value.get<double>())) {
                out += "null";
                return;
            }
            serializer.dump(value, false, false, 0);
            return;
        default:
            serializer.dump(value, false, false, 0);
            return;
    }
}

}  // namespace

std::string JsonText(const Json& value) {
    std::string out;
    Serializer serializer(nlohmann::detail::output_adapter<char>(out), ' ');
    Write(value, serializer, out);
    return out;
}

Json JsonObject(std::initializer_list<std::pair<const char*, Json>> members) {
    Json out = Json::object();
    Json::object_t& object = *out.get_ptr<Json::object_t*>();
    object.reserve(members.size());
    for (const auto& [key, value] : members) object.emplace_back(key, value);
    return out;
}

Json JsonFigure(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

}  // namespace varnholt
