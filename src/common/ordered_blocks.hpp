// Blocks of text formatted on worker threads and handed on in their order.
#pragma once

#include <cstddef>
#include <functional>

#include "common/text_sink.hpp"

namespace cellkit {

// Runs format(b, buffer) for b = 0 .. blocks-1 on `workers` threads, each into an empty buffer,
// and consume(buffer) on the calling thread in block order. At most 2 x workers blocks are held
// at once. The first exception of either ends the run; it is rethrown on the calling thread once
// the workers have stopped.
void format_blocks_in_order(std::size_t blocks, unsigned workers,
                            const std::function<void(std::size_t, TextBuffer&)>& format,
                            const std::function<void(const TextBuffer&)>& consume);

// Worker threads for formatting: the machine's cores, at most 8.
unsigned formatting_threads();

}  // namespace cellkit
