// Cancellation of long runs: the caller's stop check and the exception that ends the run.
#pragma once

#include <exception>
#include <functional>

namespace cellkit {

// Polled now and then during a long run; true asks for the run to end.
using StopCheck = std::function<bool()>;

// A stop check asked for the end and the run has cleaned up. Not an Error:
// nothing is wrong with the build, so code that turns failures into messages
// must let it through; the binding raises the interpreter's pending exception.
class Interrupted : public std::exception {
public:
    const char* what() const noexcept override { return "interrupted"; }
};

}  // namespace cellkit
