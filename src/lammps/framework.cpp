#include "lammps/framework.hpp"

#include <algorithm>

#include "common/number_format.hpp"

namespace cellkit {

using fmt::cat;

std::string framework_block(const ActiveSpeciesList& active) {
    if (std::none_of(active.begin(), active.end(),
                     [](const ActiveSpecies& s) { return s.resolved.molecule->framework; })) {
        return {};
    }
    std::string out =
        cat("\n# The framework, held still by the starter input as RASPA3 holds it. The pairs within it are left\n"
            "# out, as RASPA3 leaves them out (LAMMPS warns that the Ewald sum still counts them: a constant).\n");
    std::uint64_t next = 1;
    for (const ActiveSpecies& s : active) {
        if (s.resolved.molecule->framework) {
            out.append(cat("group ", framework_group, " molecule ", next, ":", next + s.count - 1, "  # ",
                           s.resolved.molecule->name, "\n"));
        }
        next += s.count;
    }
    out.append(cat("neigh_modify exclude molecule/intra ", framework_group, "\n"));
    return out;
}

}  // namespace cellkit
