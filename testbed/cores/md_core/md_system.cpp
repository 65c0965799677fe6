#include "md_core/md_system.h"

#include <algorithm>
#include <cmath>

namespace md {

LjSystem::LjSystem(uint32_t n, double box, double cutoff, double skin)
    : n_(n),
      box_(box),
      half_box_(box / 2),
      rc2_(cutoff * cutoff),
      list_r2_((cutoff + skin) * (cutoff + skin)),
      half_skin2_(skin * skin / 4),
      x_(3 * static_cast<size_t>(n)),
      v_(3 * static_cast<size_t>(n)),
      f_(3 * static_cast<size_t>(n)) {
    const double inv6 = 1.0 / (rc2_ * rc2_ * rc2_);
    shift_ = 4 * inv6 * (inv6 - 1);
}

double LjSystem::Wrap(double x, double box) {
    double w = x - box * std::floor(x / box);
    // A value just below 0 can round up to exactly box.
    if (w >= box) w -= box;
    if (w < 0) w = 0;
    return w;
}

// Coordinates lie in [0, box), so one correction finds the nearest image.
double LjSystem::MinImage(double d) const {
    if (d > half_box_) return d - box_;
    if (d < -half_box_) return d + box_;
    return d;
}

void LjSystem::SetState(const std::vector<double>& state) {
    for (size_t i = 0; i < n_; ++i) {
        for (size_t k = 0; k < 3; ++k) {
            x_[3 * i + k] = Wrap(state[6 * i + k], box_);
            v_[3 * i + k] = state[6 * i + 3 + k];
        }
    }
    x_at_build_.clear();  // forces a fresh list
    ComputeForces();
}

std::vector<double> LjSystem::State() const {
    std::vector<double> s(6 * static_cast<size_t>(n_));
    for (size_t i = 0; i < n_; ++i) {
        for (size_t k = 0; k < 3; ++k) {
            s[6 * i + k] = x_[3 * i + k];
            s[6 * i + 3 + k] = v_[3 * i + k];
        }
    }
    return s;
}

void LjSystem::Step(double dt) {
    const double half_dt = 0.5 * dt;
    for (size_t k = 0; k < x_.size(); ++k) {
        v_[k] += half_dt * f_[k];
        x_[k] = Wrap(x_[k] + dt * v_[k], box_);
    }
    ComputeForces();
    for (size_t k = 0; k < v_.size(); ++k) v_[k] += half_dt * f_[k];
}

double LjSystem::Kinetic() const {
    double sum = 0;
    for (double vk : v_) sum += vk * vk;
    return 0.5 * sum;
}

bool LjSystem::ListStale() const {
    if (x_at_build_.empty()) return true;
    for (size_t i = 0; i < n_; ++i) {
        const double dx = MinImage(x_[3 * i] - x_at_build_[3 * i]);
        const double dy = MinImage(x_[3 * i + 1] - x_at_build_[3 * i + 1]);
        const double dz = MinImage(x_[3 * i + 2] - x_at_build_[3 * i + 2]);
        if (dx * dx + dy * dy + dz * dz > half_skin2_) return true;
    }
    return false;
}

inline void LjSystem::AppendIfNear(uint32_t i, uint32_t j) {
    const double dx = MinImage(x_[3 * i] - x_[3 * j]);
    const double dy = MinImage(x_[3 * i + 1] - x_[3 * j + 1]);
    const double dz = MinImage(x_[3 * i + 2] - x_[3 * j + 2]);
    if (dx * dx + dy * dy + dz * dz < list_r2_) neighbours_.push_back(j);
}

void LjSystem::BuildListAllPairs() {
    for (uint32_t i = 0; i < n_; ++i) {
        row_start_[i] = static_cast<uint32_t>(neighbours_.size());
        for (uint32_t j = i + 1; j < n_; ++j) AppendIfNear(i, j);
    }
}

void LjSystem::BuildList() {
    ++list_builds_;
    x_at_build_ = x_;
    neighbours_.clear();
    row_start_.assign(n_ + 1, 0);
    // Cells of half the list range searched two cells deep visit about a
    // third of the volume that cells of the full range do. The grid needs
    // 2 * reach + 1 cells per edge, or it would visit a cell twice.
    const double range = std::sqrt(list_r2_);
    int reach = 2;
    int nc = static_cast<int>(box_ * reach / range);
    if (nc < 2 * reach + 1) {
        reach = 1;
        nc = static_cast<int>(box_ / range);
    }
    if (nc < 2 * reach + 1) {
        BuildListAllPairs();
    } else {
        BuildListCells(nc, reach);
    }
    row_start_[n_] = static_cast<uint32_t>(neighbours_.size());
}

void LjSystem::BuildListCells(int nc, int reach) {
    const size_t cells = static_cast<size_t>(nc) * nc * nc;
    auto cell_of = [&](uint32_t i, int* c) {
        for (int k = 0; k < 3; ++k)
            c[k] = std::min(nc - 1, static_cast<int>(x_[3 * i + k] * nc / box_));
    };
    // Counting sort of the particles into cells.
    std::vector<uint32_t> cell_start(cells + 1, 0), members(n_), particle_cell(n_);
    for (uint32_t i = 0; i < n_; ++i) {
        int c[3];
        cell_of(i, c);
        particle_cell[i] = static_cast<uint32_t>((c[0] * nc + c[1]) * nc + c[2]);
        ++cell_start[particle_cell[i] + 1];
    }
    for (size_t c = 0; c < cells; ++c) cell_start[c + 1] += cell_start[c];
    std::vector<uint32_t> fill(cell_start.begin(), cell_start.end() - 1);
    for (uint32_t i = 0; i < n_; ++i) members[fill[particle_cell[i]]++] = i;

    for (uint32_t i = 0; i < n_; ++i) {
        const size_t row = neighbours_.size();
        row_start_[i] = static_cast<uint32_t>(row);
        int c[3];
        cell_of(i, c);
        for (int dx = -reach; dx <= reach; ++dx)
            for (int dy = -reach; dy <= reach; ++dy)
                for (int dz = -reach; dz <= reach; ++dz) {
                    const int cx = (c[0] + dx + nc) % nc, cy = (c[1] + dy + nc) % nc,
                              cz = (c[2] + dz + nc) % nc;
                    const size_t cell = static_cast<size_t>((cx * nc + cy) * nc + cz);
                    for (uint32_t m = cell_start[cell]; m < cell_start[cell + 1]; ++m)
                        if (members[m] > i) AppendIfNear(i, members[m]);
                }
        std::sort(neighbours_.begin() + static_cast<std::ptrdiff_t>(row), neighbours_.end());
    }
}

void LjSystem::ComputeForces() {
    if (ListStale()) BuildList();
    std::fill(f_.begin(), f_.end(), 0.0);
    double pe = 0;
    for (uint32_t i = 0; i < n_; ++i) {
        const double xi = x_[3 * i], yi = x_[3 * i + 1], zi = x_[3 * i + 2];
        double fx = 0, fy = 0, fz = 0;
        for (uint32_t m = row_start_[i]; m < row_start_[i + 1]; ++m) {
            const uint32_t j = neighbours_[m];
            const double dx = MinImage(xi - x_[3 * j]);
            const double dy = MinImage(yi - x_[3 * j + 1]);
            const double dz = MinImage(zi - x_[3 * j + 2]);
            const double r2 = dx * dx + dy * dy + dz * dz;
            if (r2 >= rc2_) continue;
            const double inv2 = 1.0 / r2;
            const double inv6 = inv2 * inv2 * inv2;
            const double ff = 24.0 * inv6 * (2.0 * inv6 - 1.0) * inv2;
            fx += ff * dx;
            fy += ff * dy;
            fz += ff * dz;
            f_[3 * j] -= ff * dx;
            f_[3 * j + 1] -= ff * dy;
            f_[3 * j + 2] -= ff * dz;
            pe += 4.0 * inv6 * (inv6 - 1.0) - shift_;
        }
        f_[3 * i] += fx;
        f_[3 * i + 1] += fy;
        f_[3 * i + 2] += fz;
    }
    potential_ = pe;
}

}  // namespace md
