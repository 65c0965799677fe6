#include "md_core/md_files.h"

#include <cmath>
#include <cstring>

#include "core_side/core_files.h"

namespace md {

using qrvcore::GetF64;
using qrvcore::GetU32;
using qrvcore::PutF64;
using qrvcore::PutU32;
using qrvcore::PutU64;

namespace {

constexpr char kCheckpointMagic[8] = {'Q', 'R', 'V', 'M', 'D', 'C', 'K', 'P'};
constexpr char kResultMagic[8] = {'Q', 'R', 'V', 'M', 'D', 'R', 'E', 'S'};
constexpr size_t kCheckpointHeader = 96;
constexpr size_t kResultHeader = 128;
constexpr size_t kSampleBytes = 24;

size_t PutState(uint8_t* p, const std::vector<double>& s, size_t n) {
    for (size_t i = 0; i < 6 * n; ++i) PutF64(p + 8 * i, i < s.size() ? s[i] : 0.0);
    return 6 * n * 8;
}

size_t PutSamples(uint8_t* p, const std::vector<Sample>& samples) {
    for (size_t i = 0; i < samples.size(); ++i) {
        PutU32(p + kSampleBytes * i, samples[i].step);
        PutU32(p + kSampleBytes * i + 4, 0);
        PutF64(p + kSampleBytes * i + 8, samples[i].kinetic);
        PutF64(p + kSampleBytes * i + 16, samples[i].potential);
    }
    return samples.size() * kSampleBytes;
}

// SHA-256 over the whole buffer except the digest's own 32 bytes at `at`.
void DigestAround(const std::vector<uint8_t>& buf, size_t at, uint8_t out[kDigestSize]) {
    std::vector<uint8_t> covered(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(at));
    covered.insert(covered.end(), buf.begin() + static_cast<std::ptrdiff_t>(at + kDigestSize),
                   buf.end());
    Sha256(covered.data(), covered.size(), out);
}

}  // namespace

std::vector<uint8_t> EncodeCheckpoint(const Unit& unit, const RunState& run) {
    const size_t state_bytes = static_cast<size_t>(unit.n) * kParticleBytes;
    std::vector<uint8_t> b(kCheckpointHeader + 3 * state_bytes + run.samples.size() * kSampleBytes);
    std::memcpy(&b[0], kCheckpointMagic, 8);
    PutU32(&b[8], 1);
    PutU32(&b[12], unit.n);
    std::memcpy(&b[16], unit.digest, kDigestSize);
    PutU32(&b[48], run.step);
    PutU32(&b[52], static_cast<uint32_t>(run.samples.size()));
    PutU32(&b[56], (run.early.empty() ? 0u : 1u) | (run.late.empty() ? 0u : 2u));
    size_t at = kCheckpointHeader;
    at += PutState(&b[at], run.state, unit.n);
    at += PutState(&b[at], run.early, unit.n);
    at += PutState(&b[at], run.late, unit.n);
    PutSamples(&b[at], run.samples);
    DigestAround(b, 64, &b[64]);
    return b;
}

bool DecodeCheckpoint(const std::vector<uint8_t>& f, const Unit& unit, RunState* run,
                      std::string* why) {
    const size_t state_bytes = static_cast<size_t>(unit.n) * kParticleBytes;
    if (f.size() < kCheckpointHeader || std::memcmp(f.data(), kCheckpointMagic, 8) != 0 ||
        GetU32(&f[8]) != 1) {
        *why = "not a checkpoint of this core";
        return false;
    }
    const uint32_t count = GetU32(&f[52]);
    if (GetU32(&f[12]) != unit.n || std::memcmp(&f[16], unit.digest, kDigestSize) != 0) {
        *why = "checkpoint belongs to another unit";
        return false;
    }
    if (count > SampleCount(unit) ||
        f.size() != kCheckpointHeader + 3 * state_bytes + static_cast<size_t>(count) * kSampleBytes) {
        *why = "checkpoint has the wrong size";
        return false;
    }
    uint8_t digest[kDigestSize];
    DigestAround(f, 64, digest);
    if (std::memcmp(digest, &f[64], kDigestSize) != 0) {
        *why = "checkpoint checksum mismatch";
        return false;
    }
    RunState r;
    r.step = GetU32(&f[48]);
    const uint32_t flags = GetU32(&f[56]);
    if (r.step > unit.steps) {
        *why = "checkpoint is past the end of the unit";
        return false;
    }
    auto get_state = [&](size_t at) {
        std::vector<double> s(6 * static_cast<size_t>(unit.n));
        for (size_t i = 0; i < s.size(); ++i) s[i] = GetF64(&f[at + 8 * i]);
        return s;
    };
    r.state = get_state(kCheckpointHeader);
    if (flags & 1) r.early = get_state(kCheckpointHeader + state_bytes);
    if (flags & 2) r.late = get_state(kCheckpointHeader + 2 * state_bytes);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = &f[kCheckpointHeader + 3 * state_bytes + kSampleBytes * i];
        r.samples.push_back(Sample{GetU32(p), GetF64(p + 8), GetF64(p + 16)});
    }
    *run = std::move(r);
    return true;
}

std::vector<uint8_t> EncodeResult(const Unit& unit, const RunState& run) {
    const size_t state_bytes = static_cast<size_t>(unit.n) * kParticleBytes;
    std::vector<uint8_t> b(kResultHeader + run.samples.size() * kSampleBytes + 3 * state_bytes);
    std::memcpy(&b[0], kResultMagic, 8);
    PutU32(&b[8], 1);
    PutU32(&b[12], static_cast<uint32_t>(kResultHeader));
    std::memcpy(&b[16], unit.digest, kDigestSize);
    PutU64(&b[48], unit.id);
    PutU32(&b[56], unit.n);
    PutU32(&b[60], run.step);
    PutU32(&b[64], unit.sample_every);
    PutU32(&b[68], static_cast<uint32_t>(run.samples.size()));
    PutU32(&b[72], unit.probe_steps);
    PutF64(&b[80], unit.box);
    size_t at = kResultHeader;
    at += PutSamples(&b[at], run.samples);
    at += PutState(&b[at], run.early, unit.n);
    at += PutState(&b[at], run.late, unit.n);
    PutState(&b[at], run.state, unit.n);
    DigestAround(b, 88, &b[88]);
    return b;
}

}  // namespace md
