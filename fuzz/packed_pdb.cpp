// The reader of Packmol's packed box on arbitrary text: finite positions or an Error.
#include "packmol/packed_pdb.hpp"

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cellkit;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    fuzz::refusal_is_an_error([text] {
        for (const Vec3& xyz : parse_packed_pdb_text(text, "simbox.pdb")) {
            for (double v : xyz) fuzz::check_finite(v, "a packed position");
        }
    });
    return 0;
}
