#include "sim/supply_model.h"

namespace varnholt::sim {

std::string SupplyModel::Command(const std::string& raw) {
    std::string command = raw;
    while (!command.empty() && command.front() == ' ') command.erase(0, 1);
    if (command == "SYST:REM" || command == "*CLS") {
        if (command == "*CLS") errors_.clear();
        return "";
    }
    if (command == "*RST") {
        SetOutput(false);
        return "";
    }
    if (command == "*IDN?") {
        return (o_.badIdentity ? "AGILENT TECHNOLOGIES,E3631A,0,2.1-5.0-1.0"
                               : "HEWLETT-PACKARD,E3631A,0,2.1-5.0-1.0") +
               std::string("\r\n");
    }
    if (command.rfind("APPL P25V", 0) == 0) return "";
    if (command == "OUTP ON" || command == "OUTP OFF") {
        SetOutput(command == "OUTP ON");
        return "";
    }
    if (command == "SYST:ERR?") {
        ++errorQueries_;
        if (o_.supplyErrorAt != 0 && errorQueries_ == o_.supplyErrorAt) {
            return "-222,\"Data out of range\"\r\n";
        }
        if (!errors_.empty()) {
            const std::string first = errors_.front();
            errors_.erase(errors_.begin());
            return first + "\r\n";
        }
        return "+0,\"No error\"\r\n";
    }
    errors_.push_back("-113,\"Undefined header\"");
    return "";
}

void SupplyModel::SetOutput(bool on) {
    if (on != outputOn) t_.Line(std::string("supply output ") + (on ? "ON" : "OFF"));
    outputOn = on;
    ++powerEpoch;
}

}  // namespace varnholt::sim
