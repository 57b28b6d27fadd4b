#include "raspa/raspa3_files.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "common/error.hpp"
#include "common/json_reader.hpp"
#include "common/json_writer.hpp"
#include "common/number_format.hpp"
#include "common/utf8.hpp"

namespace cellkit {
namespace {

using fmt::cat;
using json::Token;

std::string absolute_text(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return utf8_lossy((error ? path : resolved).native());
}

json::Value number_or_null(double value) {
    return std::isfinite(value) ? json::Value(value) : json::Value();
}

bool is_number(Token token) {
    return token == Token::Unsigned || token == Token::Negative || token == Token::Double;
}

// Reads the whole coords array into `out` and returns its first fault. The
// faults wait until the document is known to be JSON and box_len was found.
std::optional<std::string> read_coords(json::Cursor& cursor, std::vector<Vec3>& out) {
    std::optional<std::string> fault;
    cursor.enter_array("an array");
    for (std::size_t i = 0; cursor.next_element(); ++i) {
        if (fault || cursor.peek() != Token::ArrayStart) {
            if (!fault) fault = cat("coords[", i, "] is not an array");
            cursor.skip_value();
            continue;
        }
        cursor.enter_array("an array");
        Vec3& r = out.emplace_back();
        std::optional<std::string> bad_component;
        std::size_t n = 0;
        for (; cursor.next_element(); ++n) {
            if (n < 3 && is_number(cursor.peek())) {
                r[n] = cursor.read_number();
                // The lexer refuses numbers beyond a double's range; a guard all the same.
                if (std::isfinite(r[n])) continue;
            } else {
                cursor.skip_value();
            }
            if (n < 3 && !bad_component) bad_component = cat("coords[", i, "][", n, "] is not a number");
        }
        if (n != 3) {
            fault = cat("coords[", i, "] has ", n, " elements, expected 3");
        } else {
            fault = std::move(bad_component);
        }
    }
    return fault;
}

}  // namespace

std::string raspa3_args_json(const std::vector<std::filesystem::path>& species,
                             const std::vector<std::uint64_t>& counts, const std::filesystem::path& force_field,
                             double density, const Raspa3Settings& settings, const Raspa3Templates& templates) {
    json::Value::Array count_values(counts.begin(), counts.end());
    json::Value::Array paths;
    for (const auto& path : species) paths.emplace_back(absolute_text(path));
    json::Value::Object args{
        {"counts", std::move(count_values)},
        {"density", number_or_null(density)},
        {"force_field_path", absolute_text(force_field)},
        {"molecule_paths", std::move(paths)},
        {"n_equil_cycles", settings.equil_cycles},
        {"n_init_cycles", settings.init_cycles},
        {"n_prod_cycles", settings.prod_cycles},
        {"seed", settings.seed},
        {"temperature", number_or_null(settings.temperature)},
    };
    if (settings.box) {
        const Vec3& edges = *settings.box;
        args.emplace(args.begin(), "box",
                     json::Value::Array{number_or_null(edges[0]), number_or_null(edges[1]), number_or_null(edges[2])});
    }
    if (std::any_of(templates.begin(), templates.end(), [](const auto& t) { return t.has_value(); })) {
        json::Value::Array shapes;
        for (const auto& t : templates) {
            if (!t) {
                shapes.emplace_back();
                continue;
            }
            json::Value::Array atoms;
            for (const Vec3& p : *t) atoms.emplace_back(json::Value::Array{p[0], p[1], p[2]});
            shapes.emplace_back(std::move(atoms));
        }
        args.emplace_back("templates", std::move(shapes));
    }
    return json::to_compact(json::Value(std::move(args)));
}

Raspa3Box parse_raspa3_result(std::string text) {
    json::Cursor cursor(std::move(text), "parsing raspa result JSON");
    std::optional<Box> box_len;
    std::vector<double> edges;  // box_len as an array, whatever its length
    std::optional<std::vector<Vec3>> coords;
    std::optional<std::string> coords_fault;
    json::read_document(cursor, [&](json::Cursor& c) {
        if (c.peek() != Token::ObjectStart) return c.skip_value();
        c.enter_object("an object");
        // A member given twice counts as its last occurrence.
        while (const auto key = c.next_key()) {
            if (*key == "box_len") {
                box_len.reset();
                edges.clear();
                if (is_number(c.peek())) {
                    box_len = Box(c.read_number());
                } else if (c.peek() == Token::ArrayStart) {
                    edges = c.read_numbers();
                    if (edges.size() == 3) box_len = Box(Vec3{edges[0], edges[1], edges[2]});
                } else {
                    c.skip_value();
                }
            } else if (*key == "coords") {
                coords.reset();
                coords_fault.reset();
                if (c.peek() != Token::ArrayStart) {
                    c.skip_value();
                } else {
                    coords_fault = read_coords(c, coords.emplace());
                }
            } else {
                c.skip_value();
            }
        }
    });
    if (!box_len && !edges.empty()) fail("raspa result 'box_len' has ", edges.size(), " edges, expected 3");
    if (!box_len) fail("raspa result missing 'box_len'");
    if (!coords) fail("raspa result missing 'coords'");
    if (coords_fault) fail(*coords_fault);
    return {.box = *box_len, .coords = std::move(*coords), .note = std::nullopt};
}

std::optional<std::string> raspa3_refusal(std::string text) {
    std::optional<std::string> error;
    try {
        json::Cursor cursor(std::move(text), "parsing raspa result JSON");
        json::read_document(cursor, [&](json::Cursor& c) {
            if (c.peek() != Token::ObjectStart) return c.skip_value();
            c.enter_object("an object");
            while (const auto key = c.next_key()) {
                if (*key == "error" && c.peek() == Token::String) {
                    error = c.read_string();
                } else {
                    c.skip_value();
                }
            }
        });
    } catch (const Error&) {
        return std::nullopt;  // not the script's refusal: the caller reports the run as it ended
    }
    return error;
}

}  // namespace cellkit
