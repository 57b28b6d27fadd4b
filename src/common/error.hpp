// The one failure type of the core: a single human-readable message.
#pragma once

#include <stdexcept>
#include <string>

#include "common/number_format.hpp"

namespace cellkit {

// Thrown where the fault is found, with the file, entry or type named, and
// passed up unchanged; the Python binding turns it into RuntimeError.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// The input model's name for the same type.
using FfError = Error;

// Throws Error with the parts concatenated as fmt::cat does.
template <typename... Parts>
[[noreturn]] void fail(const Parts&... parts) {
    throw Error(fmt::cat(parts...));
}

// The operating system's description of an errno value.
std::string system_text(int error_number);

// Throws Error "{context}: {system text of error_number}".
[[noreturn]] void sys_fail(const std::string& context, int error_number);

}  // namespace cellkit
