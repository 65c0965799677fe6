#include "md_core/md_unit.h"

#include <cmath>
#include <cstring>

#include <openssl/sha.h>

#include "core_side/core_exit_codes.h"
#include "core_side/core_files.h"

namespace md {

using qrvcore::GetF64;
using qrvcore::GetU32;
using qrvcore::GetU64;

namespace {

constexpr char kMagic[8] = {'Q', 'R', 'V', 'M', 'D', 'U', 'N', 'T'};
constexpr uint32_t kMaxParticles = 100000;

int Fail(int code, const char* reason, std::string* why) {
    *why = reason;
    return code;
}

// Checks the numbers a run depends on; every rule keeps the integrator
// away from a case it cannot handle (an empty box, a cutoff that sees a
// particle's own image, a time step that cannot conserve energy).
int ValidateFields(const Unit& u, std::string* why) {
    const int bad = qrvcore::kExitBadUnit;
    if (u.n < 2 || u.n > kMaxParticles) return Fail(bad, "particle count out of range", why);
    if (u.steps < 1 || u.checkpoint_every < 1 || u.sample_every < 1)
        return Fail(bad, "step counts must be positive", why);
    if (u.probe_steps < 1 || u.probe_steps > u.steps / 2)
        return Fail(bad, "probe steps must be between 1 and half the steps", why);
    if (u.steps / u.sample_every > 1000000) return Fail(bad, "too many energy samples", why);
    for (double v : {u.box, u.dt, u.cutoff, u.skin, u.energy_tolerance})
        if (!std::isfinite(v)) return Fail(bad, "a parameter is not a finite number", why);
    if (u.box <= 0 || u.dt <= 0 || u.dt > 0.05 || u.cutoff <= 0 || u.skin < 0)
        return Fail(bad, "box, time step, cutoff or skin out of range", why);
    if (u.box < 2 * (u.cutoff + u.skin))
        return Fail(bad, "box smaller than twice the cutoff plus skin", why);
    if (ResultSize(u) > kMaxTransfer) return Fail(bad, "result would exceed 2097152 bytes", why);
    for (size_t i = 0; i < u.state.size(); ++i) {
        const double v = u.state[i];
        if (!std::isfinite(v)) return Fail(bad, "a coordinate is not a finite number", why);
        if (i % 6 < 3 && (v < 0 || v >= u.box)) return Fail(bad, "a particle lies outside the box", why);
    }
    return 0;
}

}  // namespace

void Sha256(const uint8_t* data, size_t size, uint8_t out[kDigestSize]) {
    SHA256(data, size, out);
}

uint32_t SampleCount(const Unit& u) {
    return u.steps / u.sample_every + 1 + (u.steps % u.sample_every != 0 ? 1 : 0);
}

size_t ResultSize(const Unit& u) {
    return 128 + static_cast<size_t>(SampleCount(u)) * 24 +
           3 * static_cast<size_t>(u.n) * kParticleBytes;
}

int DecodeUnit(const std::vector<uint8_t>& f, Unit* unit, std::string* why) {
    if (f.size() < 16 || std::memcmp(f.data(), kMagic, 8) != 0)
        return Fail(qrvcore::kExitBadFormat, "not a molecular dynamics unit", why);
    const uint32_t version = GetU32(&f[8]);
    if (version > kUnitVersion) return Fail(qrvcore::kExitOutOfDate, "unit needs a newer core", why);
    if (version == 0 || GetU32(&f[12]) != kUnitHeaderSize)
        return Fail(qrvcore::kExitBadFormat, "unknown unit layout", why);
    if (f.size() < kUnitHeaderSize + kDigestSize)
        return Fail(qrvcore::kExitCorrupt, "unit file too short", why);
    Unit u;
    u.n = GetU32(&f[104]);
    const size_t want = kUnitHeaderSize + static_cast<size_t>(u.n) * kParticleBytes + kDigestSize;
    if (u.n > kMaxParticles || f.size() != want)
        return Fail(qrvcore::kExitCorrupt, "unit file size does not match its particle count", why);
    Sha256(f.data(), f.size() - kDigestSize, u.digest);
    if (std::memcmp(u.digest, &f[f.size() - kDigestSize], kDigestSize) != 0)
        return Fail(qrvcore::kExitCorrupt, "unit checksum mismatch", why);
    Sha256(f.data(), f.size(), u.digest);  // the unit's identity in results

    u.id = GetU64(&f[16]);
    const char* name = reinterpret_cast<const char*>(&f[24]);
    u.name.assign(name, strnlen(name, 79));
    u.steps = GetU32(&f[108]);
    u.checkpoint_every = GetU32(&f[112]);
    u.sample_every = GetU32(&f[116]);
    u.probe_steps = GetU32(&f[120]);
    u.box = GetF64(&f[128]);
    u.dt = GetF64(&f[136]);
    u.cutoff = GetF64(&f[144]);
    u.skin = GetF64(&f[152]);
    u.density = GetF64(&f[160]);
    u.temperature = GetF64(&f[168]);
    u.energy_tolerance = GetF64(&f[176]);
    u.state.resize(static_cast<size_t>(u.n) * 6);
    for (size_t i = 0; i < u.state.size(); ++i) u.state[i] = GetF64(&f[kUnitHeaderSize + 8 * i]);
    const int rc = ValidateFields(u, why);
    if (rc != 0) return rc;
    *unit = std::move(u);
    return 0;
}

}  // namespace md
