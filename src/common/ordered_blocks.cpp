#include "common/ordered_blocks.hpp"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace cellkit {

void format_blocks_in_order(std::size_t blocks, unsigned workers,
                            const std::function<void(std::size_t, TextBuffer&)>& format,
                            const std::function<void(const TextBuffer&)>& consume) {
    workers = std::max(workers, 1u);
    const std::size_t slots = 2 * std::size_t{workers};
    std::vector<TextBuffer> buffers(slots);
    std::vector<char> ready(slots, 0);  // block in the slot is formatted
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;      // next block to hand out
    std::size_t consumed = 0;  // blocks consumed so far; block b may use its slot once b < consumed + slots
    bool stop = false;
    std::exception_ptr failure;

    auto end_run = [&](std::exception_ptr error) {
        {
            const std::lock_guard lock(mutex);
            if (!failure) failure = error;
            stop = true;
        }
        changed.notify_all();
    };
    auto work = [&] {
        for (;;) {
            std::size_t block = 0;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || next == blocks || next < consumed + slots; });
                if (stop || next == blocks) return;
                block = next++;
            }
            TextBuffer& buffer = buffers[block % slots];
            try {
                buffer.clear();
                format(block, buffer);
            } catch (...) {
                end_run(std::current_exception());
                return;
            }
            {
                const std::lock_guard lock(mutex);
                ready[block % slots] = 1;
            }
            changed.notify_all();
        }
    };

    std::vector<std::thread> threads;
    try {
        threads.reserve(workers);
        for (unsigned i = 0; i < workers; ++i) threads.emplace_back(work);
        for (std::size_t block = 0; block < blocks; ++block) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || ready[block % slots] != 0; });
                if (stop) break;
            }
            consume(buffers[block % slots]);  // the slot stays ours until `consumed` passes it
            {
                const std::lock_guard lock(mutex);
                ready[block % slots] = 0;
                ++consumed;
            }
            changed.notify_all();
        }
    } catch (...) {
        end_run(std::current_exception());
    }
    for (std::thread& thread : threads) thread.join();
    if (failure) std::rethrow_exception(failure);
}

unsigned formatting_threads() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

}  // namespace cellkit
