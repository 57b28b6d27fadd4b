#include "packmol/packmol_log.hpp"

#include <string_view>
#include <vector>

#include "common/number_format.hpp"
#include "common/process.hpp"
#include "common/utf8.hpp"

namespace cellkit {
namespace {

using fmt::cat;

constexpr std::size_t longest_quote = 200;  // characters of a line of Packmol's quoted in the brief

std::string_view line_at(std::string_view text, std::size_t at) {
    const std::size_t end = text.find('\n', at);
    return text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
}

// The rest of the line after the last `label`, trimmed; empty when Packmol never said it.
std::string_view after_last(std::string_view text, std::string_view label) {
    const std::size_t at = text.rfind(label);
    if (at == std::string_view::npos) return {};
    return trim_unicode_space(line_at(text, at + label.size()));
}

std::string_view last_line(std::string_view text) {
    std::string_view rest = trim_unicode_space(text);
    const std::size_t at = rest.rfind('\n');
    return trim_unicode_space(at == std::string_view::npos ? rest : rest.substr(at + 1));
}

// A line of Packmol's, its runs of blanks squeezed to one (it aligns its columns with them), cut short.
std::string quoted(std::string_view line) {
    std::string out;
    for (const char c : line) {
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out.push_back(c);
    }
    return std::string(utf8_prefix(out, longest_quote));
}

}  // namespace

std::string packmol_log_text(const std::optional<int>& exit_code, const std::string& out, const std::string& err) {
    return cat("packmol exited ", exit_status_text(exit_code), ":\nstdout:\n", utf8_lossy(out), "\nstderr:\n",
               utf8_lossy(err));
}

std::string packmol_brief(const std::optional<int>& exit_code, const std::string& out_bytes,
                          const std::string& err_bytes) {
    const std::string out = utf8_lossy(out_bytes), err = utf8_lossy(err_bytes);
    std::vector<std::string> said;
    if (out.find("ENDED WITHOUT PERFECT PACKING") != std::string::npos)
        said.emplace_back("it ended without perfect packing");
    if (const std::size_t at = out.rfind("function value of\n"); at != std::string::npos) {
        const std::string_view next = line_at(out, at + 18);
        if (const std::size_t eq = next.find('='); eq != std::string_view::npos) {
            said.push_back(cat("best function value ", quoted(trim_unicode_space(next.substr(eq + 1)))));
        }
    }
    const std::string_view distance = after_last(out, "Maximum violation of target distance:");
    const std::string_view constraints = after_last(out, "Maximum violation of the constraints:");
    if (!distance.empty()) {
        said.push_back(cat("maximum violation of the target distance ", quoted(distance),
                           constraints.empty() ? "" : cat(", of the constraints ", quoted(constraints))));
    }
    if (const std::size_t at = out.rfind("molecules with non-zero contributions:"); at != std::string::npos) {
        const std::size_t start = out.rfind('\n', at);
        said.push_back(quoted(trim_unicode_space(line_at(out, start == std::string::npos ? 0 : start + 1))));
    }
    for (const std::string* stream : {&out, &err}) {
        if (const std::size_t at = stream->find("ERROR"); at != std::string::npos) {
            const std::size_t start = stream->rfind('\n', at);
            said.push_back(quoted(trim_unicode_space(line_at(*stream, start == std::string::npos ? 0 : start + 1))));
            break;
        }
    }
    if (said.empty()) {
        for (const std::string* stream : {&out, &err}) {
            if (!last_line(*stream).empty()) said.push_back(quoted(last_line(*stream)));
        }
    }
    std::string text = cat("packmol exited ", exit_status_text(exit_code));
    for (std::size_t i = 0; i < said.size(); ++i) text.append(i ? "; " : ": ").append(said[i]);
    return text;
}

}  // namespace cellkit
