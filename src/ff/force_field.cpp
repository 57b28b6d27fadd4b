#include "ff/force_field.hpp"

#include <algorithm>
#include <string_view>

#include "common/ascii.hpp"
#include "common/file_io.hpp"
#include "common/json_reader.hpp"
#include "common/number_format.hpp"
#include "ff/lammps_text.hpp"
#include "ff/record_keys.hpp"
#include "ff/type_names.hpp"

namespace cellkit {
namespace {

struct PseudoAtomEntry {
    std::string name;
    double mass = 0.0;
    double charge = 0.0;
    std::optional<std::string> source;
};

struct SelfInteractionEntry {
    std::string name;
    std::optional<std::string> type;  // absent means Lennard-Jones
    std::vector<double> parameters;
    std::optional<std::string> source;
};

struct BinaryInteractionEntry {
    std::vector<std::string> names;
    std::optional<std::string> type;
    std::vector<double> parameters;
    std::optional<std::string> source;
};

struct ForceFieldRaw {
    std::string mixing_rule;
    // Å, or absent for "auto"; "CutOff" is RASPA3's older name of CutOffVDW, which wins when both are given.
    std::optional<std::optional<double>> cutoff_vdw, cutoff;
    std::optional<std::string> truncation_method;
    std::optional<std::string> charge_method;
    ModelSettings model;  // the keys that need no more than reading
    std::vector<PseudoAtomEntry> pseudo_atoms;
    std::vector<SelfInteractionEntry> self_interactions;
    std::vector<BinaryInteractionEntry> binary_interactions;
};

// The keys of each record, in the order of its array form, read into `e`: one table for the reader
// and for force_field_record_keys().
std::vector<json::Field> pseudo_atom_fields(PseudoAtomEntry& e) {
    return {
        {"name", true, [&e](json::Cursor& c) { e.name = c.read_string(); }},
        {"mass", true, [&e](json::Cursor& c) { e.mass = c.read_number(); }},
        {"charge", true, [&e](json::Cursor& c) { e.charge = c.read_number(); }},
        {"source", false, [&e](json::Cursor& c) { e.source = c.read_optional_string(); }},
    };
}

PseudoAtomEntry read_pseudo_atom(json::Cursor& cursor) {
    PseudoAtomEntry e;
    json::read_record(cursor, "a PseudoAtoms entry", pseudo_atom_fields(e));
    return e;
}

std::vector<json::Field> self_interaction_fields(SelfInteractionEntry& e) {
    return {
        {"name", true, [&e](json::Cursor& c) { e.name = c.read_string(); }},
        {"type", false, [&e](json::Cursor& c) { e.type = c.read_string(); }},
        {"parameters", true, [&e](json::Cursor& c) { e.parameters = c.read_numbers(); }},
        {"source", false, [&e](json::Cursor& c) { e.source = c.read_optional_string(); }},
    };
}

SelfInteractionEntry read_self_interaction(json::Cursor& cursor) {
    SelfInteractionEntry e;
    json::read_record(cursor, "a SelfInteractions entry", self_interaction_fields(e));
    return e;
}

std::vector<json::Field> binary_interaction_fields(BinaryInteractionEntry& e) {
    return {
        {"names", true, [&e](json::Cursor& c) { e.names = c.read_strings(); }},
        {"type", false, [&e](json::Cursor& c) { e.type = c.read_string(); }},
        {"parameters", true, [&e](json::Cursor& c) { e.parameters = c.read_numbers(); }},
        {"source", false, [&e](json::Cursor& c) { e.source = c.read_optional_string(); }},
    };
}

BinaryInteractionEntry read_binary_interaction(json::Cursor& cursor) {
    BinaryInteractionEntry e;
    json::read_record(cursor, "a BinaryInteractions entry", binary_interaction_fields(e));
    return e;
}

template <typename Entry>
void read_entries(json::Cursor& cursor, std::string_view expected, std::vector<Entry>& out,
                  Entry (*read_entry)(json::Cursor&)) {
    json::read_array(cursor, expected, [&out, read_entry](json::Cursor& c) { out.push_back(read_entry(c)); });
}

[[noreturn]] void fail_word(const json::Cursor& c, const std::string& word, std::string_view expected) {
    std::string description = "invalid value: string ";
    fmt::append_quoted(description, word);
    c.fail_at_last(fmt::cat(description, ", expected ", expected));
}

// A number of Å, or "auto" (any case), RASPA3's half the box edge, read as absent.
std::optional<double> read_cutoff(json::Cursor& c) {
    if (c.peek() != json::Token::String) {
        if (c.peek() == json::Token::Unsigned || c.peek() == json::Token::Negative || c.peek() == json::Token::Double) {
            return c.read_number();
        }
        c.fail_invalid_type("a number or \"auto\"");
    }
    const std::string word = c.read_string();
    if (!equals_ignoring_ascii_case(word, "auto")) fail_word(c, word, "a number or \"auto\"");
    return std::nullopt;
}

void read_coulomb_cutoff(json::Cursor& c, ModelSettings& model) {
    model.cutoff_coulomb = read_cutoff(c);
    model.cutoff_coulomb_auto = !model.cutoff_coulomb;
}

// A number, or RASPA3's names for 1e-8, 1e-6 and 1e-4 (any case).
EwaldPrecision read_ewald_precision(json::Cursor& c) {
    if (c.peek() != json::Token::String) return {c.read_number(), ""};
    std::string name = c.read_string();
    for (const auto& [known, value] : {std::pair{"High", 1e-8}, {"Medium", 1e-6}, {"Low", 1e-4}}) {
        if (equals_ignoring_ascii_case(name, known)) return {value, known};
    }
    fail_word(c, name, "a number or \"High\", \"Medium\" or \"Low\"");
}

// [alpha, kx, ky, kz]: alpha in 1/Å, then whole numbers of wave vectors.
EwaldParameters read_ewald_parameters(json::Cursor& c) {
    EwaldParameters p;
    json::read_fixed_array(c, 4, "an array [alpha, kx, ky, kz]", [&p](json::Cursor& e, std::size_t i) {
        if (i == 0) {
            p.alpha = e.read_number();
            return;
        }
        const std::uint64_t k = e.read_index();
        if (k < 1 || k > kMaxWaveVectors) {
            e.fail_at_last(fmt::cat("invalid value: integer `", k, "`, expected from 1 to ", kMaxWaveVectors,
                                    " wave vectors per axis"));
        }
        p.kmax[i - 1] = static_cast<std::uint32_t>(k);
    });
    return p;
}

std::vector<json::Field> force_field_fields(ForceFieldRaw& raw) {
    return {
        {"MixingRule", true, [&raw](json::Cursor& c) { raw.mixing_rule = c.read_string(); }},
        {"CutOffVDW", false, [&raw](json::Cursor& c) { raw.cutoff_vdw = read_cutoff(c); }},
        {"PseudoAtoms", true,
         [&raw](json::Cursor& c) {
             read_entries(c, "an array of PseudoAtoms entries", raw.pseudo_atoms, read_pseudo_atom);
         }},
        {"SelfInteractions", false,
         [&raw](json::Cursor& c) {
             read_entries(c, "an array of SelfInteractions entries", raw.self_interactions, read_self_interaction);
         }},
        {"BinaryInteractions", false,
         [&raw](json::Cursor& c) {
             read_entries(c, "an array of BinaryInteractions entries", raw.binary_interactions,
                          read_binary_interaction);
         }},
        // RASPA3's keys of the model, after those of the array form's first five places.
        {"CutOff", false, [&raw](json::Cursor& c) { raw.cutoff = read_cutoff(c); }},
        {"TruncationMethod", false, [&raw](json::Cursor& c) { raw.truncation_method = c.read_string(); }},
        {"TailCorrections", false, [&raw](json::Cursor& c) { raw.model.tail_corrections = c.read_bool(); }},
        {"CutOffCoulomb", false, [&raw](json::Cursor& c) { read_coulomb_cutoff(c, raw.model); }},
        {"EwaldPrecision", false, [&raw](json::Cursor& c) { raw.model.ewald_precision = read_ewald_precision(c); }},
        {"EwaldParameters", false, [&raw](json::Cursor& c) { raw.model.ewald_parameters = read_ewald_parameters(c); }},
        {"ChargeMethod", false, [&raw](json::Cursor& c) { raw.charge_method = c.read_string(); }},
    };
}

ForceFieldRaw read_force_field(json::Cursor& cursor) {
    ForceFieldRaw raw;
    json::read_record(cursor, "a force-field object", force_field_fields(raw));
    return raw;
}

// Absent means Lennard-Jones.
bool is_lennard_jones(const std::optional<std::string>& type) {
    return type ? equals_ignoring_ascii_case(*type, "lennard-jones") : true;
}

PseudoAtomParams params_for(const PseudoAtomEntry& atom, const SelfInteractionEntry* self, const std::string& shown) {
    PseudoAtomParams p;
    p.mass = atom.mass;
    p.charge = atom.charge;
    if (self != nullptr) {
        if (!is_lennard_jones(self->type)) {
            fail("unsupported SelfInteractions type '", *self->type, "' for '", atom.name,
                 "' (only lennard-jones is supported)");
        }
        if (self->parameters.size() != 2) {
            fail("SelfInteractions for '", atom.name, "' must have [epsilon_K, sigma_Ang], got ",
                 fmt::list_form(self->parameters));
        }
        p.epsilon = self->parameters[0];
        p.sigma = self->parameters[1];
        p.self_interaction = true;
        if (self->source) {
            check_lammps_citation(*self->source, fmt::cat("\"source\" of SelfInteractions entry '", atom.name, "'"),
                                  shown);
            p.sources.push_back(*self->source);
        }
    }
    if (atom.source && std::find(p.sources.begin(), p.sources.end(), *atom.source) == p.sources.end()) {
        check_lammps_citation(*atom.source, fmt::cat("\"source\" of PseudoAtoms entry '", atom.name, "'"), shown);
        p.sources.push_back(*atom.source);
    }
    return p;
}

void add_binary_pair(ForceField& ff, const BinaryInteractionEntry& entry, const std::string& shown) {
    if (entry.names.size() != 2) {
        fail("BinaryInteractions entry in ", shown, " must have exactly two \"names\", got ",
             fmt::list_form(entry.names));
    }
    const std::string& first = entry.names[0];
    const std::string& second = entry.names[1];
    if (!is_lennard_jones(entry.type)) {
        fail("unsupported BinaryInteractions type '", *entry.type, "' for (", first, ", ", second,
             ") (only lennard-jones is supported)");
    }
    if (entry.parameters.size() != 2) {
        fail("BinaryInteractions for (", first, ", ", second, ") must have [epsilon_K, sigma_Ang], got ",
             fmt::list_form(entry.parameters));
    }
    for (const std::string* name : {&first, &second}) {
        if (!ff.pseudo_atoms.contains(*name)) {
            fail("BinaryInteractions references unknown pseudo-atom '", *name, "' in ", shown);
        }
    }
    if (entry.source) {
        check_lammps_citation(*entry.source,
                              fmt::cat("\"source\" of BinaryInteractions entry (", first, ", ", second, ")"), shown);
    }
    NamePair key = norm_pair_key(first, second);
    const bool inserted =
        ff.binary_pairs.try_emplace(key, BinaryPairParams{entry.parameters[0], entry.parameters[1], entry.source})
            .second;
    if (!inserted) {
        fail("duplicate BinaryInteractions entry for (", key.first, ", ", key.second, ") in ", shown);
    }
}

// True for `yes`, false for `no`, in any case; anything else is refused naming the key.
bool choice(const std::string& value, std::string_view key, std::string_view yes, std::string_view no,
            const std::string& shown) {
    if (equals_ignoring_ascii_case(value, yes)) return true;
    if (equals_ignoring_ascii_case(value, no)) return false;
    fail("unsupported ", key, " '", value, "' in ", shown, " (\"", yes, "\" or \"", no, "\")");
}

// The keys that name a choice are checked against the names RASPA3 knows (in any case, as it
// reads them), so a misspelt choice is refused rather than read as the default.
ModelSettings model_settings(const ForceFieldRaw& raw, const std::string& shown) {
    ModelSettings model = raw.model;
    if (raw.cutoff_vdw || raw.cutoff) {
        if (!raw.cutoff_vdw) model.cutoff_vdw_key = "CutOff";
        model.cutoff_vdw = raw.cutoff_vdw ? *raw.cutoff_vdw : *raw.cutoff;
        model.cutoff_vdw_auto = !model.cutoff_vdw;
    }
    if (raw.truncation_method) {
        model.shifted = choice(*raw.truncation_method, "TruncationMethod", "shifted", "truncated", shown);
    }
    if (raw.charge_method) model.charges = choice(*raw.charge_method, "ChargeMethod", "Ewald", "None", shown);
    check_settings(model, shown);
    return model;
}

}  // namespace

NamePair norm_pair_key(const std::string& a, const std::string& b) {
    auto [first, second] = canonical_direction<2>({a, b});
    return {std::move(first), std::move(second)};
}

namespace {

template <class Record>
RecordKeys keys_of(std::string name, std::vector<json::Field> (*fields)(Record&)) {
    Record unused;
    RecordKeys out{.record = std::move(name), .keys = {}};
    for (const json::Field& f : fields(unused)) out.keys.emplace_back(std::string(f.key), f.required);
    return out;
}

}  // namespace

std::vector<RecordKeys> force_field_record_keys() {
    return {
        keys_of("force-field file", force_field_fields),
        keys_of("PseudoAtoms entry", pseudo_atom_fields),
        keys_of("SelfInteractions entry", self_interaction_fields),
        keys_of("BinaryInteractions entry", binary_interaction_fields),
    };
}

ForceField ForceField::load(const std::filesystem::path& path) {
    ForceFieldRaw raw;
    std::vector<std::string> warnings = json::read_file(path, [&raw](json::Cursor& c) { raw = read_force_field(c); });
    const std::string shown = display(path);

    if (raw.mixing_rule != "Lorentz-Berthelot") {
        fail("unsupported MixingRule '", raw.mixing_rule, "' in ", shown, " (only \"Lorentz-Berthelot\" is supported)");
    }
    ModelSettings model = model_settings(raw, shown);

    std::unordered_map<std::string, const SelfInteractionEntry*> self_index;
    for (const SelfInteractionEntry& self : raw.self_interactions) {
        if (!self_index.try_emplace(self.name, &self).second) {
            fail("duplicate SelfInteractions entry for '", self.name, "' in ", shown);
        }
    }

    ForceField ff;
    for (const PseudoAtomEntry& atom : raw.pseudo_atoms) {
        check_lammps_name(atom.name, "PseudoAtoms name", shown);
        if (!(atom.mass > 0.0)) {
            fail("mass of PseudoAtoms entry '", atom.name, "' in ", shown, " must be positive, got ", atom.mass,
                 " (LAMMPS refuses a zero or negative mass; give a massless site a small positive mass)");
        }
        const auto self = self_index.find(atom.name);
        PseudoAtomParams params = params_for(atom, self == self_index.end() ? nullptr : self->second, shown);
        if (!ff.pseudo_atoms.try_emplace(atom.name, std::move(params)).second) {
            fail("duplicate PseudoAtoms entry for '", atom.name, "' in ", shown);
        }
    }

    for (const BinaryInteractionEntry& entry : raw.binary_interactions) add_binary_pair(ff, entry, shown);
    // A misspelt name leaves its pseudo-atom without Lennard-Jones parameters, and this entry unused.
    for (const SelfInteractionEntry& self : raw.self_interactions) {
        if (ff.find(self.name) == nullptr) {
            warnings.push_back(fmt::cat("SelfInteractions entry '", self.name, "' in ", shown,
                                        " names no PseudoAtoms entry and is not used"));
        }
    }
    ff.model = std::move(model);
    ff.warnings = std::move(warnings);
    return ff;
}

}  // namespace cellkit
