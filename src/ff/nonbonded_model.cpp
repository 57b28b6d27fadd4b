#include "ff/nonbonded_model.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/error.hpp"
#include "common/number_format.hpp"

namespace cellkit {
namespace {

void check_length(const std::optional<double>& value, const std::string& key, const std::string& file) {
    if (value && !(std::isfinite(*value) && *value > 0.0)) {
        fail(key, " in ", file, " must be a positive number of \u00c5, got ", *value);
    }
}

// RASPA3's automatic Ewald parameters: alpha from the precision and the real-space cut-off, then
// as many wave vectors per axis as make the reciprocal sum as precise.
void automatic_ewald(NonBondedModel& model, double precision, const Box& box) {
    const double eps = std::min(std::fabs(precision), 0.5);
    const double rc = model.cutoff_coulomb;
    const double tol = std::sqrt(std::fabs(std::log(eps * rc)));
    const double alpha = std::sqrt(std::fabs(std::log(eps * rc * tol))) / rc;
    const double tol1 = std::sqrt(-std::log(eps * rc * (2.0 * tol * alpha) * (2.0 * tol * alpha)));
    const Vec3 widths = box.widths();
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const double k = std::rint(0.25 + widths[axis] * alpha * tol1 / std::numbers::pi);
        if (!std::isfinite(alpha) || !(alpha > 0.0) || !std::isfinite(k) || k < 1.0 || k > kMaxWaveVectors) {
            fail("EwaldPrecision ", precision, " with a Coulomb cut-off of ", rc,
                 " \u00c5 gives no usable Ewald sum (alpha ", alpha, ", ", k, " wave vectors ",
                 box.is_cube() ? std::string("per axis") : fmt::cat("along ", axis_names[axis]),
                 "); set another EwaldPrecision or CutOffCoulomb in the force-field file");
        }
        model.kmax[axis] = static_cast<std::uint32_t>(k);
    }
    model.ewald_alpha = alpha;
}

}  // namespace

void check_settings(const ModelSettings& s, const std::string& file) {
    check_length(s.cutoff_vdw, s.cutoff_vdw_key, file);
    check_length(s.cutoff_coulomb, "CutOffCoulomb", file);
    if (s.ewald_precision && !(std::isfinite(s.ewald_precision->value) && s.ewald_precision->value > 0.0)) {
        fail("EwaldPrecision in ", file, " must be a positive number, or \"High\", \"Medium\" or \"Low\", got ",
             s.ewald_precision->value);
    }
    if (const auto& p = s.ewald_parameters) {
        if (!(std::isfinite(p->alpha) && p->alpha > 0.0)) {
            fail("EwaldParameters in ", file, " must start with a positive alpha (1/\u00c5), got ", p->alpha);
        }
    }
}

NonBondedModel resolve_model(const ModelSettings& settings, const Box& box) {
    // RASPA3's automatic cut-offs are half the box's narrowest width.
    const double half = 0.5 * box.shortest();
    NonBondedModel model;
    model.settings = settings;
    model.box = box;
    model.cutoff_vdw = settings.cutoff_vdw_auto ? half : settings.cutoff_vdw.value_or(kRaspaCutoff);
    model.shifted = settings.shifted.value_or(false);
    model.tail_corrections = settings.tail_corrections.value_or(false);
    model.charges = settings.charges.value_or(true);
    if (const auto& given = settings.ewald_parameters) {
        // RASPA3 sets the automatic Coulomb cut-off only together with automatic Ewald parameters.
        model.cutoff_coulomb = settings.cutoff_coulomb.value_or(kRaspaCutoff);
        model.ewald_alpha = given->alpha;
        model.kmax = given->kmax;
        return model;
    }
    model.cutoff_coulomb = settings.cutoff_coulomb.value_or(half);
    const double precision = settings.ewald_precision ? settings.ewald_precision->value : kRaspaEwaldPrecision;
    if (model.charges) automatic_ewald(model, precision, box);
    return model;
}

}  // namespace cellkit
