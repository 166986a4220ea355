// Timing and allocation counting shared by the C++ benchmarks.
//
// Each benchmark is one translation unit and one executable, so this header
// is included exactly once per program; that is what lets it replace the
// global operator new (replacements must not be inline).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace bench {

// Best of several rounds: the machine is shared, and the minimum is the run
// least disturbed by others.
template <typename F>
double ns_per_call(int iterations, F&& f, int rounds = 7) {
    using Clock = std::chrono::steady_clock;
    double best = 1e300;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        for (int i = 0; i < iterations; ++i) {
            f(i);
        }
        const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
        best = std::min(best, elapsed.count() / iterations);
    }
    return best;
}

// Every allocation of the process, counted by the operator new below.
inline std::size_t allocations = 0;

// Keeps the optimiser from discarding work whose result nobody reads.
inline volatile std::size_t sink;

template <typename F>
std::size_t allocations_per_call(int calls, F&& f) {
    const std::size_t before = allocations;
    for (int i = 0; i < calls; ++i) {
        f(i);
    }
    return (allocations - before) / static_cast<std::size_t>(calls);
}

}  // namespace bench

void* operator new(std::size_t size) {
    ++bench::allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
