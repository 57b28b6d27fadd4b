// Runs a child program to its end with its output captured, and ends it early on request.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "common/interrupted.hpp"

namespace cellkit {

struct ProcessRequest {
    std::string program;                 // looked up on PATH unless it holds a '/'
    std::vector<std::string> arguments;  // after the program name
    std::filesystem::path working_dir;   // empty: the caller's
    std::filesystem::path stdin_file;    // empty: standard input is empty
    StopCheck should_stop;               // polled about every 50 ms; empty: never
};

struct ProcessResult {
    std::optional<int> exit_code;  // absent when a signal ended the child
    int signal = 0;                // that signal
    std::string out;               // bytes as the child wrote them
    std::string err;
};

// The program could not be started (not found, not executable, no pipes).
// Callers word their own message around system_text(error_number()).
class LaunchError : public Error {
public:
    LaunchError(const std::string& program, int error_number);
    int error_number() const { return error_number_; }

private:
    int error_number_;
};

// Starts the program in a process group of its own, with every signal at its
// default action, and waits for it without a time limit, reading both pipes as
// it goes so a chatty child cannot block. On a stop request the whole group
// gets SIGTERM, then SIGKILL after a short grace, and Interrupted is thrown.
// Throws Error "opening {stdin_file}: {system text}" when the input cannot be
// opened, and "running {program}: {system text}" when waiting fails.
ProcessResult run_process(const ProcessRequest& request);

// A run's status as messages show it: "Some(3)" for an exit code, "None" when a signal ended it.
std::string exit_status_text(const std::optional<int>& exit_code);

}  // namespace cellkit
