// A fresh, uniquely named directory in the system's temporary location, removed with its contents.
#pragma once

#include <filesystem>

namespace cellkit {

class TempDir {
public:
    // Creates "cellkit-XXXXXX" in $TMPDIR (or /tmp when it is unset or empty).
    // Throws Error "creating temp directory: {system text}".
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Removes the directory and everything in it; failures are ignored, so
    // it is safe on every way out, an exception in flight included.
    ~TempDir();

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace cellkit
