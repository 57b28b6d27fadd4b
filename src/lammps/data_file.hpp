// Writes the LAMMPS data file (atom style full) of a packed box.
#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "common/box.hpp"
#include "common/interrupted.hpp"
#include "common/text_sink.hpp"
#include "common/vec3.hpp"
#include "ff/force_field.hpp"
#include "lammps/system.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {

// `coords` holds one triple per atom in canonical order (species, copies, atoms). All inputs are
// read only.

struct DataFileOptions {
    // Threads formatting blocks of lines: 0 for the machine's cores, 1 for the calling thread
    // alone. The text is the same either way.
    unsigned threads = 0;
    // Polled between blocks; true ends the write with Interrupted.
    StopCheck should_stop;
};

// Throws Error for what LAMMPS could not use: a coordinate count other than the atom total, a
// box edge that is not positive and finite, a position that is not finite. Callers run it before
// any file is touched, so that a refused build writes nothing.
void check_data_file(const ActiveSpeciesList& active, std::span<const Vec3> coords, const Box& box);

// Checks, then streams the whole text into `sink`, which the caller then flushes or commits.
void write_data_file(TextSink& sink, const ActiveSpeciesList& active, std::span<const Vec3> coords,
                     const TypeRegistries& registries, const ForceField& force_field, const Box& box,
                     const DataFileOptions& options = {});

// The whole text as one string.
std::string compose_data_file(const ActiveSpeciesList& active, std::span<const Vec3> coords,
                              const TypeRegistries& registries, const ForceField& force_field, const Box& box,
                              unsigned threads = 0);

// Checks, then replaces `path` with the text as it is formatted; throws Error.
void write_data_file(const std::filesystem::path& path, const ActiveSpeciesList& active, std::span<const Vec3> coords,
                     const TypeRegistries& registries, const ForceField& force_field, const Box& box,
                     const DataFileOptions& options = {});

}  // namespace cellkit
