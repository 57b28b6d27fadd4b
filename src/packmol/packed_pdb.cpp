#include "packmol/packed_pdb.hpp"

#include <charconv>
#include <cmath>

#include "common/error.hpp"
#include "common/file_io.hpp"
#include "common/utf8.hpp"

namespace cellkit {
namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// A decimal number that fills the whole field, with an optional leading '+'.
bool parse_finite(std::string_view field, double& value) {
    if (field.size() > 1 && field[0] == '+' && field[1] != '-' && field[1] != '+') field.remove_prefix(1);
    if (field.empty()) return false;
    const char* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    return ec == std::errc() && ptr == end && std::isfinite(value);
}

}  // namespace

std::vector<Vec3> parse_packed_pdb(const std::filesystem::path& path) {
    const std::string shown = display(path);
    return parse_packed_pdb_text(read_text_file(path, "reading packmol output " + shown), shown);
}

std::vector<Vec3> parse_packed_pdb_text(std::string_view text, const std::string& shown_path) {
    std::vector<Vec3> coords;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        if (line.size() < 6 || (line.substr(0, 6) != "HETATM" && line.substr(0, 6) != "ATOM  ")) continue;
        // Each column boundary must fall between characters, or a field would hold half of one.
        const bool whole = line.size() >= 54 && (line.size() == 54 || !is_utf8_continuation(line[54])) &&
                           !is_utf8_continuation(line[30]) && !is_utf8_continuation(line[38]) &&
                           !is_utf8_continuation(line[46]);
        if (!whole) fail("malformed PDB line in ", shown_path, ": ", line);
        Vec3 xyz{};
        for (std::size_t k = 0; k < 3; ++k) {
            if (!parse_finite(trimmed(line.substr(30 + 8 * k, 8)), xyz[k])) {
                fail("bad ", "xyz"[k], " coordinate in ", shown_path, ": ", line);
            }
        }
        coords.push_back(xyz);
    }
    return coords;
}

}  // namespace cellkit
