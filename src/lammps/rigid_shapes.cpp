#include "lammps/rigid_shapes.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "common/number_format.hpp"

namespace cellkit {
namespace {

using Matrix4 = std::array<std::array<double, 4>, 4>;

// The eigenvector of the largest eigenvalue of a symmetric 4 x 4 matrix, by Jacobi rotations:
// a handful of sweeps reach machine precision, and the method has no failure mode.
std::array<double, 4> leading_eigenvector(Matrix4 a) {
    Matrix4 v{};
    for (std::size_t i = 0; i < 4; ++i) v[i][i] = 1.0;
    for (int sweep = 0; sweep < 50; ++sweep) {
        double off = 0.0;
        for (std::size_t p = 0; p < 4; ++p) {
            for (std::size_t q = p + 1; q < 4; ++q) off += a[p][q] * a[p][q];
        }
        if (off < 1e-30) break;
        for (std::size_t p = 0; p < 4; ++p) {
            for (std::size_t q = p + 1; q < 4; ++q) {
                if (a[p][q] == 0.0) continue;
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (std::size_t k = 0; k < 4; ++k) {
                    const double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (std::size_t k = 0; k < 4; ++k) {
                    const double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
                for (std::size_t k = 0; k < 4; ++k) {
                    const double vkp = v[k][p], vkq = v[k][q];
                    v[k][p] = c * vkp - s * vkq;
                    v[k][q] = s * vkp + c * vkq;
                }
            }
        }
    }
    std::size_t top = 0;
    for (std::size_t i = 1; i < 4; ++i) {
        if (a[i][i] > a[top][top]) top = i;
    }
    return {v[0][top], v[1][top], v[2][top], v[3][top]};
}

}  // namespace

void best_fit(std::span<const Vec3> from, std::span<const Vec3> to, std::span<Vec3> out) {
    if (from.empty()) return;
    const Vec3 cf = centroid(from), ct = centroid(to);
    // Horn's closed form: the best rotation is the unit quaternion of the largest eigenvalue of a
    // matrix built from the cross-covariance of the two centred sets.
    double s[3][3] = {};
    for (std::size_t i = 0; i < from.size(); ++i) {
        for (std::size_t r = 0; r < 3; ++r) {
            for (std::size_t c = 0; c < 3; ++c) s[r][c] += (from[i][r] - cf[r]) * (to[i][c] - ct[c]);
        }
    }
    const Matrix4 n = {{
        {s[0][0] + s[1][1] + s[2][2], s[1][2] - s[2][1], s[2][0] - s[0][2], s[0][1] - s[1][0]},
        {s[1][2] - s[2][1], s[0][0] - s[1][1] - s[2][2], s[0][1] + s[1][0], s[2][0] + s[0][2]},
        {s[2][0] - s[0][2], s[0][1] + s[1][0], -s[0][0] + s[1][1] - s[2][2], s[1][2] + s[2][1]},
        {s[0][1] - s[1][0], s[2][0] + s[0][2], s[1][2] + s[2][1], -s[0][0] - s[1][1] + s[2][2]},
    }};
    const auto [w, x, y, z] = leading_eigenvector(n);
    const double norm = std::sqrt(w * w + x * x + y * y + z * z);
    const double q0 = w / norm, q1 = x / norm, q2 = y / norm, q3 = z / norm;
    const double rot[3][3] = {
        {q0 * q0 + q1 * q1 - q2 * q2 - q3 * q3, 2 * (q1 * q2 - q0 * q3), 2 * (q1 * q3 + q0 * q2)},
        {2 * (q1 * q2 + q0 * q3), q0 * q0 - q1 * q1 + q2 * q2 - q3 * q3, 2 * (q2 * q3 - q0 * q1)},
        {2 * (q1 * q3 - q0 * q2), 2 * (q2 * q3 + q0 * q1), q0 * q0 - q1 * q1 - q2 * q2 + q3 * q3},
    };
    for (std::size_t i = 0; i < from.size(); ++i) {
        const Vec3 d{from[i][0] - cf[0], from[i][1] - cf[1], from[i][2] - cf[2]};
        for (std::size_t r = 0; r < 3; ++r) out[i][r] = ct[r] + rot[r][0] * d[0] + rot[r][1] * d[1] + rot[r][2] * d[2];
    }
}

std::vector<std::string> restore_rigid_shapes(const ActiveSpeciesList& active, std::span<Vec3> coords, const Box& box) {
    std::vector<std::string> warnings;
    std::size_t at = 0;
    for (const ActiveSpecies& species : active) {
        const Molecule& molecule = *species.resolved.molecule;
        const std::size_t n = molecule.pseudo_atoms.size();
        if (!molecule.rigid || n < 2) {
            at += n * species.count;
            continue;
        }
        std::vector<Vec3> shape(n), placed(n), fitted(n);
        for (std::size_t i = 0; i < n; ++i) shape[i] = molecule.pseudo_atoms[i].position;
        std::uint64_t off_shape = 0;
        double furthest = 0.0;
        for (std::uint64_t m = 0; m < species.count; ++m, at += n) {
            // A coordinate that is not a number stays where it is, for the output check to name.
            if (!std::all_of(coords.begin() + static_cast<std::ptrdiff_t>(at),
                             coords.begin() + static_cast<std::ptrdiff_t>(at + n),
                             [](const Vec3& p) { return std::isfinite(p[0] + p[1] + p[2]); })) {
                continue;
            }
            const Vec3& first = coords[at];
            for (std::size_t i = 0; i < n; ++i) {
                const Vec3& p = coords[at + i];
                const Vec3 d = box.nearest({p[0] - first[0], p[1] - first[1], p[2] - first[2]});
                for (std::size_t k = 0; k < 3; ++k) placed[i][k] = first[k] + d[k];
            }
            best_fit(shape, placed, fitted);
            double worst = 0.0;
            for (std::size_t i = 0; i < n; ++i) {
                worst = std::max(worst, std::hypot(fitted[i][0] - placed[i][0], fitted[i][1] - placed[i][1],
                                                   fitted[i][2] - placed[i][2]));
            }
            if (worst > shape_tolerance) ++off_shape, furthest = std::max(furthest, worst);
            std::copy(fitted.begin(), fitted.end(), coords.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if (off_shape > 0) {
            warnings.push_back(fmt::cat("'", molecule.name, "' is rigid, but ", off_shape, " of its ", species.count,
                                        " molecules were placed up to ", fmt::Fixed{furthest, 3},
                                        " \u00c5 from its template's shape: written in that shape"));
        }
    }
    return warnings;
}

}  // namespace cellkit
