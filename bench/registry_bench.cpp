// Cost of building and reading a formulas registry.
//
// py_get_constant builds the whole built-in registry, looks one name up and
// writes its datasheet on every call, so the build dominates that call. This
// prints nanoseconds per build at 8 and at 256 shards with their same-run
// ratio (a build must not grow with the shard count), the cost of get for a
// present and an absent name and of the sorted listing, and what a build is
// made of: its allocation count and the time of its 17 name hashes and of
// making its 17 records with nowhere to put them.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "bench/bench_support.hpp"
#include "core/builtin_constants.hpp"
#include "core/formulas_registry.hpp"
#include "core/shard_count.hpp"
#include "core/siphash.hpp"
#include "pyfacade/json_text.hpp"

using bench::allocations;
using bench::allocations_per_call;
using bench::ns_per_call;
using bench::sink;

int main() {
    using namespace brenvalis::core;
    constexpr int kBuilds = 200'000;
    constexpr int kLookups = 2'000'000;

    const auto build = [](std::size_t shards) {
        return [shards](int) {
            const FormulasRegistry registry = FormulasRegistry::new_with_shards(shards);
            sink = registry.shard_amount();
        };
    };
    const double build8 = ns_per_call(kBuilds, build(8));
    const double build256 = ns_per_call(kBuilds, build(256));
    const std::size_t build_allocs8 = allocations_per_call(1000, build(8));
    const std::size_t build_allocs256 = allocations_per_call(1000, build(256));

    // What a build consists of besides the store: the 17 hashes and the 17
    // records themselves.
    const auto rows = builtin_constants();
    const double hashes = ns_per_call(kBuilds, [&](int i) {
        std::uint64_t acc = 0;
        for (const BuiltinConstant& row : rows) {
            acc ^= sip_hash_suffixed<1, 3>(static_cast<std::uint64_t>(i), 0, row.name, 0xFF);
        }
        sink = acc;
    });
    const double records = ns_per_call(kBuilds, [&](int) {
        std::size_t acc = 0;
        for (const BuiltinConstant& row : rows) {
            const ConstantRecord record = make_builtin_record(row);
            acc += record.name().size();
        }
        sink = acc;
    });
    const std::size_t record_allocs = allocations_per_call(1000, [&](int) {
        for (const BuiltinConstant& row : rows) {
            const ConstantRecord record = make_builtin_record(row);
            sink = record.name().size();
        }
    });

    const FormulasRegistry registry = FormulasRegistry::new_with_shards(8);
    const double get_hit = ns_per_call(kLookups, [&](int) { sink = registry.get("b3")->units().size(); });
    const double get_miss = ns_per_call(kLookups, [&](int) { sink = registry.get("B3").has_value(); });
    const double listing = ns_per_call(kBuilds, [&](int) { sink = registry.sorted_names().size(); });
    const double count8 = ns_per_call(kLookups, [&](int) { sink = registry.len(); });
    const FormulasRegistry wide = FormulasRegistry::new_with_shards(256);
    const double count256 = ns_per_call(kBuilds, [&](int) { sink = wide.len(); });
    const double listing256 = ns_per_call(kBuilds / 4, [&](int) { sink = wide.sorted_names().size(); });
    const std::size_t get_allocs = allocations_per_call(1000, [&](int) { sink = registry.get("b3")->value; });

    // The C++ part of one py_get_constant call: build, look up, write.
    std::string text;
    text.reserve(128);
    const std::size_t process_shards = process_shard_amount();
    const double datasheet_call = ns_per_call(kBuilds, [&](int) {
        const FormulasRegistry fresh = FormulasRegistry::new_();
        const auto record = fresh.get("b3");
        text.clear();
        brenvalis::pyfacade::write_datasheet(text, *record);
        sink = text.size();
    });

    const double ratio = build256 / build8;
    std::printf("build, 8 shards                 %7.1f ns  (%zu allocations)\n", build8, build_allocs8);
    std::printf("build, 256 shards               %7.1f ns  (%zu allocations)\n", build256, build_allocs256);
    std::printf("  ratio 256/8                   %7.2f    (limit 1.50: %s)\n", ratio, ratio <= 1.5 ? "ok" : "OVER");
    std::printf("  17 name hashes alone          %7.1f ns  (%.0f%% of an 8-shard build)\n", hashes,
                100.0 * hashes / build8);
    std::printf("  17 records alone              %7.1f ns  (%zu allocations: long texts, name lists)\n", records,
                record_allocs);
    std::printf("  rest: store, arena, teardown  %7.1f ns  (build minus the two lines above)\n",
                build8 - hashes - records);
    std::printf("get \"b3\" (present)             %7.1f ns  (%zu allocations)\n", get_hit, get_allocs);
    std::printf("get \"B3\" (absent)              %7.1f ns\n", get_miss);
    std::printf("sorted_names, 8 shards          %7.1f ns\n", listing);
    std::printf("sorted_names, 256 shards        %7.1f ns\n", listing256);
    std::printf("len, 8 shards                   %7.1f ns\n", count8);
    std::printf("len, 256 shards                 %7.1f ns\n", count256);
    std::printf("build + get + datasheet (%zu shards, this process) %7.1f ns\n", process_shards, datasheet_call);
    return get_allocs == 0 ? 0 : 1;
}
