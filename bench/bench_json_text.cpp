// Cost of the datasheet text, which every py_get_constant call writes once.
//
// Prints nanoseconds per call and, as a same-run ratio, how much the layout
// adds on top of the bare shortest-digit generator (std::to_chars without a
// format), so that a slower machine does not read as a regression.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "bench/bench_support.hpp"
#include "core/constant_record.hpp"
#include "pyfacade/json_text.hpp"

using bench::allocations;
using bench::ns_per_call;
using bench::sink;

int main() {
    using namespace brenvalis;
    constexpr int kIterations = 1'000'000;
    const double values[] = {24.0, 1776.86, 1.618033988749895, 0.5772156649015329, 1.5e-7, 1e16, 246220.0, -0.0};
    constexpr int kValues = sizeof values / sizeof values[0];

    std::string out;
    out.reserve(128);

    const double bare = ns_per_call(kIterations, [&](int i) {
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, values[i % kValues]);
        sink = static_cast<std::size_t>(r.ptr - buf);
    });
    const double json = ns_per_call(kIterations, [&](int i) {
        out.clear();
        pyfacade::append_json_number(out, values[i % kValues]);
        sink = out.size();
    });
    const double formula = ns_per_call(kIterations, [&](int i) {
        out.clear();
        core::append_formula_number(out, values[i % kValues]);
        sink = out.size();
    });

    const core::ConstantRecord b3 = core::ConstantRecord::seed("b3", 24.0, "dimensionless");
    core::ConstantRecord phi = core::ConstantRecord::seed("phi", 1.618033988749895, "dimensionless");
    phi.uncertainty = 1.5e-7;
    const std::size_t allocations_before = allocations;
    const double sheet_b3 = ns_per_call(kIterations, [&](int) {
        out.clear();
        pyfacade::write_datasheet(out, b3);
        sink = out.size();
    });
    const double sheet_phi = ns_per_call(kIterations, [&](int) {
        out.clear();
        pyfacade::write_datasheet(out, phi);
        sink = out.size();
    });

    const std::size_t datasheet_allocations = allocations - allocations_before;

    std::printf("to_chars shortest (bare)   %6.1f ns\n", bare);
    std::printf("append_json_number         %6.1f ns  (%.2fx bare)\n", json, json / bare);
    std::printf("append_formula_number      %6.1f ns  (%.2fx bare)\n", formula, formula / bare);
    std::printf("write_datasheet b3         %6.1f ns\n", sheet_b3);
    std::printf("write_datasheet phi+unc    %6.1f ns\n", sheet_phi);
    std::printf("allocations in %d datasheets: %zu\n", 10 * kIterations, datasheet_allocations);
    return datasheet_allocations == 0 ? 0 : 1;
}
