#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace varnholt::testing {

WorkingFolder::WorkingFolder(const std::string& base) {
    std::string pattern = base + "/varnholt-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
    path_ = pattern;
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(path_);
}

WorkingFolder::~WorkingFolder() {
    std::error_code error;
    std::filesystem::current_path(previous_, error);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(path_, error);
}

void WorkingFolder::Write(const std::string& name, const std::string& content) const {
    std::ofstream(path_ + "/" + name, std::ios::binary) << content;
}

std::string WorkingFolder::Read(const std::string& name) const {
    std::ifstream in(path_ + "/" + name, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace varnholt::testing
