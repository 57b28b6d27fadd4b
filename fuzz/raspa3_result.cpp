// The reader of the RASPA3 script's result on arbitrary text: a finite box or an Error.
#include "harness.hpp"
#include "raspa/raspa3_files.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cellkit;
    std::string text(reinterpret_cast<const char*>(data), size);
    fuzz::refusal_is_an_error([&text] {
        const Raspa3Box box = parse_raspa3_result(std::move(text));
        for (double edge : box.box.edges) fuzz::check_finite(edge, "a box edge");
        for (const Vec3& xyz : box.coords) {
            for (double v : xyz) fuzz::check_finite(v, "a position");
        }
    });
    return 0;
}
