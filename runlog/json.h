#pragma once

#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

namespace varnholt {

// Every JSON document the program reads or writes goes through this one
// library. Members keep the order they were set in, as readers of our
// output (and its tests) have always seen them.
using Json = nlohmann::ordered_json;

// The text of a value on one line, ", " and ": " between items, strings as
// valid UTF-8 (stray bytes read as Latin-1, as ValidUtf8 does), a float that
// is whole still written as one (231.0) and one that is not finite as null.
std::string JsonText(const Json& value);

// An object with these members in this order, built at its final size: an
// object grown member by member copies its keys at every growth (a report of
// 10,000 runs spent a fifth of its time so).
Json JsonObject(std::initializer_list<std::pair<const char*, Json>> members);

// A figure that may not exist: null when absent or not finite.
Json JsonFigure(double value);

}  // namespace varnholt
