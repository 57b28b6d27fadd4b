#include "lammps/data_file.hpp"

#include <chrono>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "common/file_io.hpp"
#include "common/number_format.hpp"
#include "common/ordered_blocks.hpp"

namespace cellkit {
namespace {

using fmt::cat;

// Room for one number and the separator before it.
constexpr std::size_t number_room = fmt::kMaxNumberChars + 1;
// Lines are formatted in blocks of at most about this many bytes, each handed on whole.
constexpr std::size_t block_bytes = std::size_t{1} << 20;

// A fixed part of a line, copied in steps of 32 bytes: it is stored with that much slack behind
// it, and each line's room includes as much, so a line costs no library call per part.
class Piece {
public:
    static constexpr std::size_t slack = 32;

    Piece() = default;
    explicit Piece(std::string text) : size_(text.size()), text_(std::move(text)) { text_.append(slack, '\0'); }
    char* put(char* out) const {
        for (std::size_t i = 0; i < size_; i += slack) std::memcpy(out + i, text_.data() + i, slack);
        return out + size_;
    }
    std::size_t room() const { return size_ + slack; }

private:
    std::size_t size_ = 0;
    std::string text_;
};

// The fixed parts of an atom line: " type charge " after the IDs, "  # type molecule\n" after
// the position.
struct AtomText {
    Piece middle;
    Piece tail;
};

// The fixed parts of a bond, angle or dihedral line: " type " after its ID, "  # A-B" (with the
// rigid note up to its ID) after the atom IDs. Records of one type share one.
struct LineStyle {
    Piece middle;
    Piece comment;
    bool id_at_end = false;
};

struct TopologyText {
    std::vector<LineStyle> styles;
    std::vector<std::uint32_t> style_of;  // per record of the molecule
    std::size_t room = 0;                 // bytes a line may take
};

// One species as the writer walks it: where its atoms and molecules start, and its line texts.
struct SpeciesLines {
    const ResolvedMolecule* resolved = nullptr;
    std::uint64_t count = 0;
    std::uint64_t atoms_before = 0;
    std::uint64_t molecules_before = 0;
    std::vector<AtomText> atoms;
    std::size_t atom_room = 0;
    TopologyText bonds, angles, dihedrals;
};

struct Plan {
    std::span<const Vec3> coords;
    std::vector<SpeciesLines> species;
};

template <typename Registry>
std::size_t type_number(const Registry& registry, const typename Registry::KeyType& key) {
    if (auto position = registry.position(key)) return *position + 1;
    fail("internal error: a bonded type is missing from its registry");
}

std::vector<AtomText> atom_texts(const ResolvedMolecule& resolved, const TypeRegistries& registries,
                                 const ForceField& force_field) {
    const Molecule& molecule = *resolved.molecule;
    std::vector<AtomText> texts;
    for (const PseudoAtom& atom : molecule.pseudo_atoms) {
        const PseudoAtomParams* params = force_field.find(atom.type);
        const auto position = registries.atoms.position(atom.type);
        if (params == nullptr || !position) {
            fail("internal error: pseudo-atom type '", atom.type, "' has no atom type");
        }
        std::string middle = " ";
        fmt::append_uint(middle, *position + 1, 4);
        middle.push_back(' ');
        fmt::append_fixed(middle, params->charge, 6, 10);
        middle.push_back(' ');
        AtomText text{Piece(std::move(middle)), Piece(cat("  # ", atom.type, " ", molecule.name, "\n"))};
        texts.push_back(std::move(text));
    }
    return texts;
}

std::array<std::size_t, 2> atoms_of(const BondRecord& r) {
    return {r.i, r.j};
}
std::array<std::size_t, 3> atoms_of(const AngleRecord& r) {
    return {r.i, r.j, r.k};
}
std::array<std::size_t, 4> atoms_of(const DihedralRecord& r) {
    return {r.i, r.j, r.k, r.l};
}

// The texts of the records' lines. `rigid_note` follows the comment of a placeholder record.
template <typename Record, typename Resolved, typename Registry>
TopologyText topology_text(const std::vector<Record>& records, Resolved Record::* resolved_of, const Registry& registry,
                           std::string_view rigid_note) {
    TopologyText text;
    std::unordered_map<std::string, std::uint32_t> seen;
    for (const Record& record : records) {
        const Resolved& resolved = record.*resolved_of;
        std::string middle = " ";
        fmt::append_uint(middle, type_number(registry, type_key(resolved)), 4);
        middle.push_back(' ');
        std::string comment = cat("  # ", dashed(resolved.names));
        bool id_at_end = false;
        if constexpr (requires { resolved.placeholder; }) {
            if (resolved.placeholder) {
                comment.append(rigid_note);
                id_at_end = true;
            }
        }
        const auto [it, inserted] =
            seen.try_emplace(cat(middle, "\n", comment), static_cast<std::uint32_t>(text.styles.size()));
        if (inserted) {
            LineStyle style{Piece(std::move(middle)), Piece(std::move(comment)), id_at_end};
            text.room = std::max(text.room, style.middle.room() + style.comment.room());
            text.styles.push_back(std::move(style));
        }
        text.style_of.push_back(it->second);
    }
    text.room += (std::tuple_size_v<decltype(atoms_of(records.front()))> + 2) * number_room + 1;
    return text;
}

Plan make_plan(const ActiveSpeciesList& active, std::span<const Vec3> coords, const TypeRegistries& registries,
               const ForceField& force_field) {
    Plan plan{coords, {}};
    std::uint64_t atoms = 0;
    std::uint64_t molecules = 0;
    for (const ActiveSpecies& s : active) {
        const ResolvedMolecule& m = s.resolved;
        SpeciesLines lines;
        lines.resolved = &m;
        lines.count = s.count;
        lines.atoms_before = atoms;
        lines.molecules_before = molecules;
        lines.atoms = atom_texts(m, registries, force_field);
        for (const AtomText& a : lines.atoms) {
            lines.atom_room = std::max(lines.atom_room, a.middle.room() + a.tail.room() + 5 * number_room);
        }
        lines.bonds = topology_text(m.bonds, &BondRecord::bond, registries.bonds,
                                    "  # This bond shall be rigid, set SHAKE or RIGID in lammps simulation for bond ");
        lines.angles =
            topology_text(m.angles, &AngleRecord::angle, registries.angles,
                          "  # This angle shall be rigid, set SHAKE or RIGID in lammps simulation for angle ");
        lines.dihedrals = topology_text(m.dihedrals, &DihedralRecord::dihedral, registries.dihedrals, "");
        atoms += m.molecule->pseudo_atoms.size() * s.count;
        molecules += s.count;
        plan.species.push_back(std::move(lines));
    }
    return plan;
}

// Where one line of a section falls in its walk: species in order, their copies, and the
// records (atoms, bonds, ...) of one copy.
struct Cursor {
    std::size_t species = 0;
    std::uint64_t copy = 0;
    std::size_t record = 0;
};

// `per_copy(species)` is the number of the section's lines in one copy.
template <typename PerCopy>
Cursor locate(const std::vector<SpeciesLines>& species, std::uint64_t line, PerCopy per_copy) {
    Cursor at;
    for (; at.species < species.size(); ++at.species) {
        const std::uint64_t n = per_copy(species[at.species]);
        if (line < n * species[at.species].count) {
            at.copy = line / n;
            at.record = line % n;
            break;
        }
        line -= n * species[at.species].count;
    }
    return at;
}

template <typename PerCopy>
void step(Cursor& at, const std::vector<SpeciesLines>& species, PerCopy per_copy) {
    if (++at.record < per_copy(species[at.species])) return;
    at.record = 0;
    if (++at.copy < species[at.species].count) return;
    at.copy = 0;
    do {
        ++at.species;
    } while (at.species < species.size() && per_copy(species[at.species]) == 0);
}

void format_atoms(const Plan& plan, TextBuffer& out, std::uint64_t first, std::uint64_t end) {
    const auto per_copy = [](const SpeciesLines& s) { return s.atoms.size(); };
    Cursor at = locate(plan.species, first, per_copy);
    for (std::uint64_t line = first; line < end; ++line) {
        const SpeciesLines& s = plan.species[at.species];
        const AtomText& text = s.atoms[at.record];
        const Vec3& r = plan.coords[line];
        char* p = out.room(s.atom_room);
        p = fmt::write_uint(p, line + 1, 7);
        *p++ = ' ';
        p = fmt::write_uint(p, s.molecules_before + at.copy + 1, 7);
        p = text.middle.put(p);
        p = fmt::write_exponent(p, r[0], 6, 13);
        *p++ = ' ';
        p = fmt::write_exponent(p, r[1], 6, 13);
        *p++ = ' ';
        p = fmt::write_exponent(p, r[2], 6, 13);
        p = text.tail.put(p);
        out.advance(p);
        step(at, plan.species, per_copy);
    }
}

// Bond, angle and dihedral lines share their shape: ID, type, atom IDs, comment. The atom IDs
// are the record's positions shifted by the atoms of all earlier copies.
template <typename Record>
void format_topology(const Plan& plan, TopologyText SpeciesLines::* text_of,
                     std::vector<Record> ResolvedMolecule::* records_of, TextBuffer& out, std::uint64_t first,
                     std::uint64_t end) {
    const auto per_copy = [text_of](const SpeciesLines& s) { return (s.*text_of).style_of.size(); };
    Cursor at = locate(plan.species, first, per_copy);
    for (std::uint64_t id = first + 1; id <= end; ++id) {
        const SpeciesLines& s = plan.species[at.species];
        const TopologyText& text = s.*text_of;
        const LineStyle& style = text.styles[text.style_of[at.record]];
        const auto atoms = atoms_of((s.resolved->*records_of)[at.record]);
        const std::uint64_t first_atom_id = s.atoms_before + at.copy * s.atoms.size() + 1;
        char* p = out.room(text.room);
        p = fmt::write_uint(p, id, 7);
        p = style.middle.put(p);
        p = fmt::write_uint(p, atoms[0] + first_atom_id, 7);
        for (std::size_t k = 1; k < atoms.size(); ++k) {
            *p++ = ' ';
            p = fmt::write_uint(p, atoms[k] + first_atom_id, 7);
        }
        p = style.comment.put(p);
        if (style.id_at_end) p = fmt::write_uint(p, id);
        *p++ = '\n';
        out.advance(p);
        step(at, plan.species, per_copy);
    }
}

void format_bonds(const Plan& plan, TextBuffer& out, std::uint64_t first, std::uint64_t end) {
    format_topology(plan, &SpeciesLines::bonds, &ResolvedMolecule::bonds, out, first, end);
}
void format_angles(const Plan& plan, TextBuffer& out, std::uint64_t first, std::uint64_t end) {
    format_topology(plan, &SpeciesLines::angles, &ResolvedMolecule::angles, out, first, end);
}
void format_dihedrals(const Plan& plan, TextBuffer& out, std::uint64_t first, std::uint64_t end) {
    format_topology(plan, &SpeciesLines::dihedrals, &ResolvedMolecule::dihedrals, out, first, end);
}

void format_header(TextBuffer& out, const SystemTotals& totals, const TypeRegistries& registries, const Box& box) {
    std::string text = cat("created by boxloom\n\n", totals.atoms, " atoms\n");
    if (totals.bonds != 0) text.append(cat(totals.bonds, " bonds\n"));
    if (totals.angles != 0) text.append(cat(totals.angles, " angles\n"));
    if (totals.dihedrals != 0) text.append(cat(totals.dihedrals, " dihedrals\n"));
    text.append(cat(registries.atoms.size(), " atom types\n"));
    if (totals.bonds != 0) text.append(cat(registries.bonds.size(), " bond types\n"));
    if (totals.angles != 0) text.append(cat(registries.angles.size(), " angle types\n"));
    if (totals.dihedrals != 0) text.append(cat(registries.dihedrals.size(), " dihedral types\n"));
    text.push_back('\n');
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const char* name = axis_names[axis];
        text.append(cat("0.0 ", fmt::Fixed{box[axis], 6}, " ", name, "lo ", name, "hi\n"));
    }
    if (box.tilted()) {
        text.append(cat(fmt::Fixed{box.tilt[0], 6}, " ", fmt::Fixed{box.tilt[1], 6}, " ", fmt::Fixed{box.tilt[2], 6},
                        " xy xz yz\n"));
    }
    out.append(text);
}

struct Section {
    const char* title;
    std::uint64_t lines;
    std::size_t room;  // bytes a line may take
    void (*format)(const Plan&, TextBuffer&, std::uint64_t first, std::uint64_t end);
};

// Atoms always (even none), the others only when they have lines.
std::vector<Section> sections_of(const Plan& plan, const SystemTotals& totals) {
    Section atoms{"Atoms", totals.atoms, 1, format_atoms};
    Section bonds{"Bonds", totals.bonds, 1, format_bonds};
    Section angles{"Angles", totals.angles, 1, format_angles};
    Section dihedrals{"Dihedrals", totals.dihedrals, 1, format_dihedrals};
    for (const SpeciesLines& s : plan.species) {
        atoms.room = std::max(atoms.room, s.atom_room);
        bonds.room = std::max(bonds.room, s.bonds.room);
        angles.room = std::max(angles.room, s.angles.room);
        dihedrals.room = std::max(dihedrals.room, s.dihedrals.room);
    }
    std::vector<Section> sections{atoms};
    for (const Section& s : {bonds, angles, dihedrals}) {
        if (s.lines != 0) sections.push_back(s);
    }
    return sections;
}

// A run of lines of one section; the first of a section starts with the section's title.
struct Block {
    const Section* section;
    std::uint64_t first, end;
};

std::vector<Block> blocks_of(const std::vector<Section>& sections) {
    std::vector<Block> blocks;
    for (const Section& s : sections) {
        const std::uint64_t per_block = std::max<std::uint64_t>(1, block_bytes / s.room);
        std::uint64_t first = 0;
        do {
            const std::uint64_t end = first + std::min(per_block, s.lines - first);
            blocks.push_back({&s, first, end});
            first = end;
        } while (first < s.lines);
    }
    return blocks;
}

void format_block(const Plan& plan, const Block& block, TextBuffer& out) {
    if (block.first == 0) out.append(cat("\n", block.section->title, "\n\n"));
    block.section->format(plan, out, block.first, block.end);
}

// Asks the stop check at most every 50 ms: it may have to wait for the interpreter lock.
class StopPoll {
public:
    explicit StopPoll(const StopCheck& check) : check_(check) {}
    void operator()() {
        if (!check_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now < next_) return;
        next_ = now + std::chrono::milliseconds(50);
        if (check_()) throw Interrupted();
    }

private:
    const StopCheck& check_;
    std::chrono::steady_clock::time_point next_{};
};

}  // namespace

void check_data_file(const ActiveSpeciesList& active, std::span<const Vec3> coords, const Box& box) {
    const SystemTotals totals = system_totals(active);
    if (coords.size() != totals.atoms) {
        fail("internal error: expected ", totals.atoms, " packed atom coordinates, got ", coords.size());
    }
    // LAMMPS refuses an empty or inverted box and cannot move atoms at NaN; say so here
    // rather than write a file that only fails later.
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const double edge = box[axis];
        const std::string which = box.is_cube() ? "" : cat(" along ", axis_names[axis]);
        if (!std::isfinite(edge) || edge <= 0.0) {
            fail("the box edge", which, " must be a positive finite length in \u00c5, got ", edge);
        }
        // The box is written with 6 decimals, and the double nearest 5e-7 lies just below the
        // halfway point, so exactly the edges up to it would read back as an empty box.
        if (edge <= 5e-7) {
            fail("the box edge", which, " must be a positive finite length in \u00c5, got ", edge,
                 ", which data.lmp (6 decimals) would write as 0.000000");
        }
    }
    for (std::size_t k = 0; k < 3; ++k) {
        if (!std::isfinite(box.tilt[k])) {
            fail("the box's tilt ", tilt_names[k], " must be a finite length in \u00c5, got ", box.tilt[k]);
        }
    }
    for (std::size_t i = 0; i < coords.size(); ++i) {
        const Vec3& r = coords[i];
        if (!std::isfinite(r[0]) || !std::isfinite(r[1]) || !std::isfinite(r[2])) {
            fail("the position of atom ", i + 1, " is not finite: (", r[0], ", ", r[1], ", ", r[2], ")");
        }
    }
}

void write_data_file(TextSink& sink, const ActiveSpeciesList& active, std::span<const Vec3> coords,
                     const TypeRegistries& registries, const ForceField& force_field, const Box& box,
                     const DataFileOptions& options) {
    check_data_file(active, coords, box);
    const SystemTotals totals = system_totals(active);
    const Plan plan = make_plan(active, coords, registries, force_field);
    const std::vector<Section> sections = sections_of(plan, totals);
    const std::vector<Block> blocks = blocks_of(sections);
    StopPoll poll(options.should_stop);

    format_header(sink.buffer(), totals, registries, box);
    const unsigned threads = options.threads == 0 ? formatting_threads() : options.threads;
    if (threads <= 1 || blocks.size() < 2) {
        for (const Block& block : blocks) {
            format_block(plan, block, sink.buffer());
            sink.flush_if_full();
            poll();
        }
        return;
    }
    format_blocks_in_order(
        blocks.size(), threads, [&](std::size_t b, TextBuffer& out) { format_block(plan, blocks[b], out); },
        [&](const TextBuffer& text) {
            sink.write(text.view());
            poll();
        });
}

std::string compose_data_file(const ActiveSpeciesList& active, std::span<const Vec3> coords,
                              const TypeRegistries& registries, const ForceField& force_field, const Box& box,
                              unsigned threads) {
    StringSink sink;
    write_data_file(sink, active, coords, registries, force_field, box, {.threads = threads, .should_stop = {}});
    return sink.take();
}

void write_data_file(const std::filesystem::path& path, const ActiveSpeciesList& active, std::span<const Vec3> coords,
                     const TypeRegistries& registries, const ForceField& force_field, const Box& box,
                     const DataFileOptions& options) {
    check_data_file(active, coords, box);
    FileReplacement file(path);
    write_data_file(file, active, coords, registries, force_field, box, options);
    file.commit();
}

}  // namespace cellkit
