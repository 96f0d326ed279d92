#include "tests/support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace varnholt::testing {

WorkingFolder::WorkingFolder(const std::string& base) {
    const std::filesystem::path parent =
        base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
    std::random_device seed;
    std::mt19937_64 random(seed());
    const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; path_.empty(); ++attempt) {
        if (attempt == 100) throw std::runtime_error("cannot make a folder in " + parent.string());
        std::string name = "varnholt-test-";
        for (int i = 0; i < 6; ++i) name += letters[random() % (sizeof letters - 1)];
        std::error_code error;
        if (std::filesystem::create_directory(parent / name, error))
            path_ = (parent / name).string();
    }
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
