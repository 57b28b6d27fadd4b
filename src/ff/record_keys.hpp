// The keys the readers of the input files take, record by record, as the readers' own tables give
// them: what the format reference must list.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace cellkit {

struct RecordKeys {
    std::string record;                              // "force-field file", "PseudoAtoms entry", ...
    std::vector<std::pair<std::string, bool>> keys;  // key and whether it is required, in array-form order
};

// The force-field file and its PseudoAtoms, SelfInteractions and BinaryInteractions entries.
std::vector<RecordKeys> force_field_record_keys();

// The molecule file.
std::vector<RecordKeys> molecule_record_keys();

}  // namespace cellkit
