#include "common/json_writer.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "common/error.hpp"
#include "common/file_io.hpp"
#include "common/number_format.hpp"

namespace cellkit::json {
namespace {

void append_string(std::string& out, std::string_view text) {
    if (!is_valid_utf8(text)) fail("JSON text is UTF-8; a string that is not cannot be written");
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '\b':
                out.append("\\b");
                break;
            case '\f':
                out.append("\\f");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            default:
                if (u < 0x20) {
                    out.append("\\u00");
                    out.push_back(hex[u >> 4]);
                    out.push_back(hex[u & 15]);
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

}  // namespace

void append_compact(std::string& out, const Value& value) {
    struct Append {
        std::string& out;
        void operator()(std::nullptr_t) const { out.append("null"); }
        void operator()(bool b) const { out.append(b ? "true" : "false"); }
        void operator()(std::int64_t i) const { fmt::append_piece(out, i); }
        void operator()(std::uint64_t u) const { fmt::append_uint(out, u); }
        void operator()(double d) const {
            if (!std::isfinite(d)) fail("JSON has no number for ", d);
            fmt::append_list_number(out, d);
        }
        void operator()(const std::string& s) const { append_string(out, s); }
        void operator()(const Value::Array& array) const {
            out.push_back('[');
            for (std::size_t i = 0; i < array.size(); ++i) {
                if (i > 0) out.push_back(',');
                append_compact(out, array[i]);
            }
            out.push_back(']');
        }
        void operator()(const Value::Object& object) const {
            // Sorted by key, so the same content always gives the same text.
            std::vector<const Value::Object::value_type*> members;
            for (const auto& member : object) members.push_back(&member);
            std::sort(members.begin(), members.end(), [](auto a, auto b) { return a->first < b->first; });
            out.push_back('{');
            for (std::size_t i = 0; i < members.size(); ++i) {
                if (i > 0 && members[i]->first == members[i - 1]->first) {
                    std::string key;
                    fmt::append_quoted(key, members[i]->first);
                    fail("JSON object key ", key, " given twice");
                }
                if (i > 0) out.push_back(',');
                append_string(out, members[i]->first);
                out.push_back(':');
                append_compact(out, members[i]->second);
            }
            out.push_back('}');
        }
    };
    std::visit(Append{out}, value.data_);
}

std::string to_compact(const Value& value) {
    std::string out;
    append_compact(out, value);
    return out;
}

}  // namespace cellkit::json
