#include "common/temp_dir.hpp"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include "common/error.hpp"

namespace cellkit {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
    if (pattern.back() != '/') pattern.push_back('/');
    pattern += "cellkit-XXXXXX";
    // mkdtemp picks the name and creates the directory (mode 0700) in one step, so no other
    // process can claim the same name between the two.
    if (::mkdtemp(pattern.data()) == nullptr) sys_fail("creating temp directory", errno);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace cellkit
