#pragma once

// A folder of a test's own under /tmp, removed with everything in it when
// the test is done with it.

#include <string>

namespace kova::support {

class Scratch_Dir {
public:
    explicit Scratch_Dir(const std::string& prefix = "kova-test");
    ~Scratch_Dir();
    Scratch_Dir(const Scratch_Dir&) = delete;
    Scratch_Dir& operator=(const Scratch_Dir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace kova::support
