// Whole-file reading and atomic whole-file replacement.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cellkit {

// Path as shown in messages.
inline std::string display(const std::filesystem::path& path) { return path.string(); }

// Reads the whole file into `contents`; on failure returns the system's
// description of the fault and leaves `contents` unspecified.
std::optional<std::string> read_whole_file(const std::filesystem::path& path, std::string& contents);

bool is_valid_utf8(std::string_view text);

// Writes `contents` to a new file beside `path`, then renames it over `path`,
// so readers see the old file or the complete new one, never a truncated one.
// Returns the system's description of a failure; no temporary file remains.
std::optional<std::string> replace_file_atomically(const std::filesystem::path& path, std::string_view contents);

}  // namespace cellkit
