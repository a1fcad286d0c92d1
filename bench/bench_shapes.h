// The shapes the table's operations and the curves are measured on: an
// entry count from 16,000 to 1,000,000, 64 VSIs, 1,024 VSIs or one VSI,
// and consecutive or random B-MACs.
//
// A curve benchmark (Name/entries/vsis/macs, see registerCurve) makes one
// iteration per shape and reports the time per entry (us_per_entry) and
// the rate (entries_per_second); `scripts/bench.sh --plot` runs it with
// repetitions and draws the medians against the entry count.
#pragma once

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>

namespace pbbbench {

// A bijection of 32-bit numbers that scatters consecutive ones.
constexpr uint32_t permute(uint32_t x)
{
    x *= 0x9E3779B1u;
    x ^= x >> 15;
    x *= 0x85EBCA77u;
    x ^= x >> 13;
    return x;
}

// Random B-MAC number i: 02 and five bytes of a permutation of i, so no
// two are equal.
constexpr std::array<uint8_t, 6> randomBMac(uint32_t i)
{
    const uint32_t x = permute(i);
    return {0x02, static_cast<uint8_t>(permute(i ^ 0x5bd1e995u)), static_cast<uint8_t>(x >> 24),
            static_cast<uint8_t>(x >> 16), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x)};
}

constexpr uint32_t kCurveEntries[] = {16000, 64000, 256000, 1000000};
constexpr uint32_t kCurveVsis[] = {64, 1024, 1};

// Registers fn(state, entries, vsis, random) once per shape as
// name/entries/vsis/(consecutive|random), one iteration each, timed by
// the benchmark (curveTime).
template <class Fn>
bool registerCurve(const char* name, Fn fn)
{
    for (uint32_t n : kCurveEntries)
        for (uint32_t vsis : kCurveVsis)
            for (bool random : {false, true}) {
                std::string full = std::string(name) + "/" + std::to_string(n) + "/" + std::to_string(vsis) + "/" +
                                   (random ? "random" : "consecutive");
                benchmark::RegisterBenchmark(full.c_str(),
                                             [fn, n, vsis, random](benchmark::State& st) { fn(st, n, vsis, random); })
                    ->Iterations(1)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
            }
    return true;
}

// A curve's figures: `seconds` for `entries` entries.
inline void curveTime(benchmark::State& state, double seconds, uint32_t entries)
{
    state.SetIterationTime(seconds);
    state.counters["us_per_entry"] = seconds * 1e6 / entries;
    state.counters["entries_per_second"] = entries / seconds;
}

}  // namespace pbbbench
