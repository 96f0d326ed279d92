#pragma once

#include <string>

namespace varnholt::testing {

// A fresh folder that is the working directory for the test's lifetime, the
// way the program runs in the operator's folder.
class WorkingFolder {
public:
    // base: where the folder is made; the system's temporary folder by default.
    explicit WorkingFolder(const std::string& base = "");
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

    void Write(const std::string& name, const std::string& content) const;
    std::string Read(const std::string& name) const;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
};

}  // namespace varnholt::testing
