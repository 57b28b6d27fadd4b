// What a Packmol run that did not end cleanly said: its whole output for a log file, and one line
// with its own final figures for the build summary or the error.
#pragma once

#include <optional>
#include <string>

namespace cellkit {

// "packmol exited with status N:\nstdout:\n...\nstderr:\n..." ("exited on a signal" for a signal).
std::string packmol_log_text(const std::optional<int>& exit_code, const std::string& out, const std::string& err);

// "packmol exited with status 173: it ended without perfect packing; best function value
// 0.118E+04; maximum violation of the target distance 4.000000, of the constraints .116E+00; ...":
// the figures Packmol reports last, its first ERROR line, or else the last line of each stream.
std::string packmol_brief(const std::optional<int>& exit_code, const std::string& out, const std::string& err);

}  // namespace cellkit
