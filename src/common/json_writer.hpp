// Compact JSON text from values built in memory, members sorted by key.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace cellkit::json {

// A JSON value to be written: null, boolean, integer, double, string, array or object.
class Value {
public:
    using Array = std::vector<Value>;
    using Object = std::vector<std::pair<std::string, Value>>;  // any order; written sorted

    Value() = default;  // null
    Value(std::nullptr_t) {}
    Value(bool b) : data_(b) {}
    Value(double d) : data_(d) {}
    template <std::integral T>
        requires(!std::same_as<T, bool> && !std::same_as<T, char>)
    Value(T i) {
        if constexpr (std::is_signed_v<T>) {
            data_ = static_cast<std::int64_t>(i);
        } else {
            data_ = static_cast<std::uint64_t>(i);
        }
    }
    Value(std::string s) : data_(std::move(s)) {}
    Value(const char* s) : data_(std::string(s)) {}
    Value(Array a) : data_(std::move(a)) {}
    Value(Object o) : data_(std::move(o)) {}

    friend void append_compact(std::string& out, const Value& value);

private:
    std::variant<std::nullptr_t, bool, std::int64_t, std::uint64_t, double, std::string, Array, Object> data_;
};

// No blanks or line breaks; members sorted by key as unsigned bytes; strings
// with the standard escapes; doubles in the shortest form that reads back to
// the same value, always with a fraction or an exponent (300.0, 0.35, 1e-7).
// Throws Error for a non-finite double, a key given twice, or a string that is
// not UTF-8, as JSON has no text for them.
std::string to_compact(const Value& value);
void append_compact(std::string& out, const Value& value);

}  // namespace cellkit::json
