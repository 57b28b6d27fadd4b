// Runs child programs to their end with their output captured, and ends them early on request.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
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
    StopCheck should_stop;               // run_process polls it about every 50 ms; empty: never
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

// How a run ended, as messages say it after "exited ": "with status 3", or "on a signal".
std::string exit_status_text(const std::optional<int>& exit_code);

// The cores this process may run on (its CPU affinity), at least 1.
std::size_t available_cores();

// Children running side by side, each started as run_process starts one and
// waited for together. Every child still running when the set goes out of
// scope (a failure found in another child's output, an exception) is ended as
// a stopped run_process child is, so nothing outlives the set.
class ProcessSet {
public:
    struct Finished {
        std::size_t id;  // what start() returned for it
        ProcessResult result;
    };

    ProcessSet();
    ProcessSet(const ProcessSet&) = delete;
    ProcessSet& operator=(const ProcessSet&) = delete;
    ~ProcessSet();

    // Starts the program; the request's should_stop is not looked at (wait_any
    // takes one). Returns 0 for the first child, counting up. Throws LaunchError
    // and the opening Error of run_process.
    std::size_t start(const ProcessRequest& request);
    std::size_t running() const { return running_.size(); }

    // Waits until one of the running children ends and returns it. On a stop
    // request, also one that comes in as a child ends, every child is ended and
    // Interrupted is thrown. Throws Error "running {program}: {system text}".
    Finished wait_any(const StopCheck& should_stop = {});

private:
    struct Running;
    void end_all() noexcept;

    std::vector<std::unique_ptr<Running>> running_;
    std::size_t started_ = 0;
};

}  // namespace cellkit
