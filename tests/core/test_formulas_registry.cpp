#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/formulas_registry.hpp"
#include "core/name_order.hpp"
#include "core/shard_count.hpp"
#include "tests/core/fake_platform.hpp"

namespace brenvalis::core {
namespace {

using namespace std::string_view_literals;

double parse(std::string_view text) {
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    EXPECT_EQ(result.ec, std::errc{}) << text;
    return value;
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string.
std::string numbered(std::string_view prefix, int number) {
    std::string name(prefix);
    name += std::to_string(number);
    return name;
}

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

const std::vector<std::string> kBuiltinSorted = {
    "b3",          "chi_eff",        "gamma_em",   "h0_central",  "jc_constant",   "logic_closure",  "m_tau_mev",
    "n_gen",       "n_gen_sq",       "phi",        "roots_total", "sterile_check", "sterile_sector", "topo_gen_check",
    "v_higgs_mev", "visible_sector", "w0_central",
};

struct ExpectedRecord {
    std::string_view name;
    std::string_view value;  // parsed, then compared bit for bit
    std::string_view units;
    ConstantStatus status;
    std::optional<std::string_view> formula;
    std::vector<std::string_view> depends_on;
};

const std::vector<ExpectedRecord>& builtin_expectations() {
    using S = ConstantStatus;
    static const std::vector<ExpectedRecord> rows = {
        {"b3", "24", "dimensionless", S::Seed, std::nullopt, {}},
        {"chi_eff", "72", "dimensionless", S::Seed, std::nullopt, {}},
        {"n_gen", "3", "count", S::Seed, std::nullopt, {}},
        {"roots_total", "288", "count", S::Seed, std::nullopt, {}},
        {"visible_sector", "125", "count", S::Seed, std::nullopt, {}},
        {"sterile_sector", "163", "count", S::Seed, std::nullopt, {}},
        {"phi", "1.618033988749895", "dimensionless", S::Seed, std::nullopt, {}},
        {"gamma_em", "0.5772156649015329", "dimensionless", S::Seed, std::nullopt, {}},
        {"jc_constant", "153", "count", S::Seed, std::nullopt, {}},
        {"logic_closure", "288", "count", S::Seed, std::nullopt, {}},
        {"v_higgs_mev", "0", "MeV", S::Pending, "246220", {}},
        {"sterile_check", "0", "count", S::Pending, "roots_total - visible_sector", {"roots_total", "visible_sector"}},
        {"n_gen_sq", "0", "count", S::Pending, "n_gen * n_gen", {"n_gen"}},
        {"h0_central", "0", "km/s/Mpc", S::Pending, "70", {}},
        {"w0_central", "0", "dimensionless", S::Pending, "-1", {}},
        {"m_tau_mev", "0", "MeV", S::Pending, "1776.86", {}},
        {"topo_gen_check", "0", "count", S::Pending, "chi_eff / b3", {"chi_eff", "b3"}},
    };
    return rows;
}

void expect_builtin_records(const FormulasRegistry& registry) {
    EXPECT_EQ(registry.len(), 17u);
    EXPECT_EQ(registry.sorted_names(), kBuiltinSorted);
    for (const ExpectedRecord& want : builtin_expectations()) {
        SCOPED_TRACE(want.name);
        const auto got = registry.get(want.name);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->name(), want.name);
        // Bits, not ==: this tells +0.0 from -0.0 and catches a last-digit slip.
        EXPECT_EQ(bits(got->value), bits(parse(want.value)));
        EXPECT_EQ(got->units(), want.units);
        EXPECT_FALSE(got->uncertainty.has_value());
        EXPECT_EQ(got->status, want.status);
        EXPECT_EQ(got->formula(), want.formula);
        EXPECT_EQ(std::vector<std::string_view>(got->depends_on().begin(), got->depends_on().end()), want.depends_on);
    }
}

TEST(FormulasRegistry, BuiltinTableAtEveryShardCount) {
    // The values named in the table, as exact binary64 expansions.
    EXPECT_EQ(bits(parse("1.618033988749895")), bits(parse("1.6180339887498949025257388711906969547271728515625")));
    EXPECT_EQ(bits(parse("0.5772156649015329")),
              bits(parse("0.57721566490153286554942724251304753124713897705078125")));

    for (const std::size_t shards : {std::size_t{2}, std::size_t{4}, std::size_t{8}, std::size_t{256}}) {
        SCOPED_TRACE(shards);
        const FormulasRegistry registry = FormulasRegistry::new_with_shards(shards);
        EXPECT_EQ(registry.shard_amount(), shards);
        expect_builtin_records(registry);
    }
    const FormulasRegistry registry = FormulasRegistry::new_();
    EXPECT_GE(registry.shard_amount(), 4u);
    EXPECT_TRUE(std::has_single_bit(registry.shard_amount()));
    expect_builtin_records(registry);
}

TEST(FormulasRegistry, RegistriesBuiltInSuccessionHoldEqualRecords) {
    const FormulasRegistry first = FormulasRegistry::new_();
    const FormulasRegistry second = FormulasRegistry::new_();
    EXPECT_EQ(first.sorted_names(), second.sorted_names());
    for (const std::string& name : kBuiltinSorted) {
        EXPECT_EQ(first.get(name).value(), second.get(name).value()) << name;
    }
}

TEST(FormulasRegistry, LookupIsByteExact) {
    const FormulasRegistry registry = FormulasRegistry::new_with_shards(8);
    const std::string_view misses[] = {
        "B3", "PHI", "b3 ", " b3", "b", "b33", "n_gen_s", "b3\0"sv, "", "\xc3\xa9",
    };
    for (std::string_view name : misses) {
        SCOPED_TRACE(name);
        const auto got = registry.get(name);
        ASSERT_FALSE(got.has_value());
        EXPECT_EQ(got.error().kind(), RegistryError::Kind::NotFound);
        EXPECT_EQ(got.error().message(), "constant `" + std::string(name) + "` not found in registry");
    }
    EXPECT_EQ(registry.get("").error().message(), "constant `` not found in registry");
    EXPECT_EQ(registry.get("a`b\nc").error().message(), "constant `a`b\nc` not found in registry");
    EXPECT_EQ(registry.len(), 17u);  // lookups never change the store
}

TEST(FormulasRegistry, InsertReplacesAndHandsBackTheEarlierRecord) {
    // A record whose texts are too long to keep inline owns an allocation,
    // which teardown must free whichever record it replaced: under
    // LeakSanitizer the short-to-long row catches a replacing record left off
    // the list of records to destroy.
    const ConstantRecord short_seed = ConstantRecord::seed("x", 1.0, "count");
    const ConstantRecord short_derived = ConstantRecord::derived("x", "y + 1", "MeV", {"y"});
    const ConstantRecord long_derived = ConstantRecord::derived("x", std::string(60, '+'), "MeV", {"y"});
    ASSERT_FALSE(short_seed.owns_allocation());
    ASSERT_TRUE(long_derived.owns_allocation());
    struct Case {
        std::size_t shards;
        const ConstantRecord& first;
        const ConstantRecord& second;
    };
    const Case cases[] = {
        {4, short_seed, short_derived},
        {256, short_seed, short_derived},
        {4, short_seed, long_derived},
        {4, long_derived, short_seed},
    };
    for (const auto& [shards, first, second] : cases) {
        SCOPED_TRACE(testing::Message() << shards << " shards, owning " << first.owns_allocation() << " then "
                                        << second.owns_allocation());
        FormulasRegistry registry = FormulasRegistry::with_shards(shards);
        EXPECT_EQ(registry.len(), 0u);
        EXPECT_EQ(registry.insert("x", first), std::nullopt);
        EXPECT_EQ(registry.len(), 1u);
        EXPECT_EQ(registry.insert("x", second), first);
        EXPECT_EQ(registry.len(), 1u);
        EXPECT_EQ(registry.get("x").value(), second);
        EXPECT_EQ(registry.sorted_names(), std::vector<std::string>{"x"});
        // The key is the name given to insert, not the record's own name.
        EXPECT_EQ(registry.insert("alias", first), std::nullopt);
        EXPECT_EQ(registry.get("alias")->name(), "x");
        EXPECT_EQ(registry.len(), 2u);
    }
}

// Replacing a record keeps the stored key, even when the new record carries
// another name.
TEST(FormulasRegistry, ReplacingABuiltinRecordKeepsItsKey) {
    FormulasRegistry registry = FormulasRegistry::new_with_shards(8);
    const ConstantRecord original = registry.get("b3").value();
    const ConstantRecord other = ConstantRecord::seed("renamed", 5.0, "count");
    EXPECT_EQ(registry.insert("b3", other), original);
    EXPECT_EQ(registry.len(), 17u);
    EXPECT_EQ(registry.sorted_names(), kBuiltinSorted);
    EXPECT_EQ(registry.get("b3").value(), other);
    EXPECT_FALSE(registry.get("renamed").has_value());
    EXPECT_EQ(registry.insert("b3", original), other);
    EXPECT_EQ(registry.get("b3").value(), original);
}

TEST(FormulasRegistry, ListingIsInByteOrder) {
    // Inserted in an order that is not the byte order.
    const std::vector<std::string> inserted = {
        "visible_sector", "\xc3\xa9t\xc3\xa9", "n_gen_sq", "_x", "v_higgs_mev", "a", "~", "Zed", "n_gen", "9a", "\x7f",
    };
    const std::vector<std::string> expected = {
        "9a", "Zed", "_x", "a", "n_gen", "n_gen_sq", "v_higgs_mev", "visible_sector", "~", "\x7f", "\xc3\xa9t\xc3\xa9",
    };
    FormulasRegistry registry = FormulasRegistry::with_shards(8);
    EXPECT_TRUE(registry.sorted_names().empty());
    registry.insert("only", ConstantRecord::seed("only", 1.0, "count"));
    EXPECT_EQ(registry.sorted_names(), std::vector<std::string>{"only"});

    FormulasRegistry mixed = FormulasRegistry::with_shards(8);
    for (const std::string& name : inserted) {
        mixed.insert(name, ConstantRecord::seed(name, 0.0, "count"));
    }
    EXPECT_EQ(mixed.sorted_names(), expected);

    // Either side of the listing's switch from a short list to a vector: the
    // names above, then numbered ones inserted from the highest down.
    for (const std::size_t count : {kShortList - 1, kShortList, kShortList + 1}) {
        SCOPED_TRACE(count);
        std::vector<std::string> names = inserted;
        while (names.size() < count) {
            names.push_back(numbered("k", static_cast<int>(count - names.size())));
        }
        FormulasRegistry boundary = FormulasRegistry::with_shards(8);
        for (const std::string& name : names) {
            boundary.insert(name, ConstantRecord::seed(name, 0.0, "count"));
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(boundary.sorted_names(), names);
    }
}

TEST(FormulasRegistry, ManyNamesSpreadOverShards) {
    for (const std::size_t shards : {std::size_t{4}, std::size_t{8}, std::size_t{256}}) {
        SCOPED_TRACE(shards);
        FormulasRegistry registry = FormulasRegistry::with_shards(shards);
        std::vector<std::string> names;
        for (int i = 0; i < 1000; ++i) {
            names.push_back(numbered("k", i));
            registry.insert(names.back(), ConstantRecord::seed(names.back(), i, "count"));
        }
        EXPECT_EQ(registry.len(), 1000u);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(registry.sorted_names(), names);  // more than 20 names: the merge-sort path
        for (int i = 0; i < 1000; ++i) {
            const std::string name = numbered("k", i);
            ASSERT_EQ(registry.get(name)->value, i) << name;
        }
    }
}

TEST(FormulasRegistry, ShardIsTheBitsBelowTheTag) {
    const FormulasRegistry registry = FormulasRegistry::with_shards(32);
    struct Case {
        std::uint64_t hash;
        std::size_t shard;
    };
    const Case cases[] = {
        {0, 0},
        {0xFE00000000000000ull, 0},   // only tag bits
        {0x0010000000000000ull, 1},   // bit 52
        {0x01F0000000000000ull, 31},  // bits 52..56
        {0x000FFFFFFFFFFFFFull, 0},   // everything below bit 52
        {0xFFFFFFFFFFFFFFFFull, 31},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hash);
        EXPECT_EQ(registry.shard_index(c.hash), c.shard);
    }
    EXPECT_EQ(FormulasRegistry::with_shards(4).shard_index(0x0180000000000000ull), 3u);
}

// The shard of a name is chosen by SipHash-1-3 of the name's bytes plus 0xFF.
// CPython 3.11 and later hash bytes with the same function, and run with
// PYTHONHASHSEED=0 its keys are zero: each value below is CPython 3.12's
// hash(name.encode() + b"\xff") under that setting, read as a signed 64-bit
// value. Staged getrandom bytes become the keys of the first registry that a
// thread builds, so the registry is built on a new thread with zero keys, and
// with the most shards (16 bits of each hash pinned).
TEST(FormulasRegistry, ShardOfANameFollowsSipHashOneThree) {
    struct Case {
        std::string_view name;
        std::int64_t cpython_hash;
    };
    const Case builtin[] = {
        {"b3", 870370817191133949},
        {"chi_eff", 2854064106037093022},
        {"gamma_em", 4042156139715570757},
        {"h0_central", 7434962163761506611},
        {"jc_constant", 1332448104777803646},
        {"logic_closure", -1668763248809697487},
        {"m_tau_mev", 199479619602578429},
        {"n_gen", -5826681988450372800},
        {"n_gen_sq", 4207785055912082435},
        {"phi", 96590580540882225},
        {"roots_total", -8674332734080123581},
        {"sterile_check", -8980728999468336172},
        {"sterile_sector", 2687567231317840778},
        {"topo_gen_check", 5473703924558839112},
        {"v_higgs_mev", 3355928359012946230},
        {"visible_sector", 8628422619649123364},
        {"w0_central", -8469468092659672581},
    };
    const Case inserted[] = {
        {"B3", 3411619396110129567},
        {"", 3476900567878811119},
        {"\xc3\xa9t\xc3\xa9", 3754506868571335257},
        {"a`b\nc", -6130834217842216278},
    };

    fake_platform::reset();
    fake_platform::stage().getrandom = {{0, std::vector<unsigned char>(16, 0)}};
    std::optional<FormulasRegistry> registry;
    std::thread([&registry] { registry.emplace(FormulasRegistry::new_with_shards(kMaxShardAmount)); }).join();
    EXPECT_TRUE(fake_platform::stage().getrandom.empty());  // the keys are the staged zeros
    fake_platform::reset();
    for (const Case& c : inserted) {
        registry->insert(std::string(c.name), ConstantRecord::seed(std::string(c.name), 1.0, "count"));
    }

    std::vector<Case> all(std::begin(builtin), std::end(builtin));
    all.insert(all.end(), std::begin(inserted), std::end(inserted));
    std::map<std::size_t, std::uint64_t> expected_len;
    for (const Case& c : all) {
        ++expected_len[registry->shard_index(std::bit_cast<std::uint64_t>(c.cpython_hash))];
    }
    for (const Case& c : all) {
        SCOPED_TRACE(c.name);
        const std::size_t shard = registry->shard_index(std::bit_cast<std::uint64_t>(c.cpython_hash));
        EXPECT_EQ(registry->shard_len(shard), expected_len[shard]);
        EXPECT_TRUE(registry->get(c.name).has_value());
    }
    // Every name is where the reference hash puts it, so no other shard holds any.
    EXPECT_EQ(registry->len(), all.size());
    EXPECT_THROW(registry->shard_len(kMaxShardAmount), std::out_of_range);
}

TEST(FormulasRegistry, ShardCountMustBeAPowerOfTwoAboveOne) {
    // Powers of two above the ceiling: the next one, and the highest a size
    // holds on this machine (2^31 where it is 32 bits wide).
    constexpr std::size_t top = std::size_t{1} << (std::numeric_limits<std::size_t>::digits - 1);
    for (const std::size_t bad :
         {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{12}, kMaxShardAmount * 2, top}) {
        EXPECT_THROW(FormulasRegistry::with_shards(bad), std::invalid_argument) << bad;
        EXPECT_THROW(FormulasRegistry::new_with_shards(bad), std::invalid_argument) << bad;
    }
}

TEST(FormulasRegistry, MovesCarryTheStore) {
    FormulasRegistry source = FormulasRegistry::new_with_shards(8);
    FormulasRegistry moved(std::move(source));
    expect_builtin_records(moved);
    // What is left behind reads as empty rather than touching freed shards.
    EXPECT_EQ(source.len(), 0u);
    EXPECT_TRUE(source.sorted_names().empty());
    EXPECT_FALSE(source.get("b3").has_value());
    EXPECT_THROW(source.insert("b3", ConstantRecord::seed("b3", 1.0, "count")), std::logic_error);
    FormulasRegistry target = FormulasRegistry::with_shards(4);
    target.insert("gone", ConstantRecord::seed("gone", 1.0, "count"));
    target = std::move(moved);
    expect_builtin_records(target);
    EXPECT_FALSE(target.get("gone").has_value());
}

TEST(FormulasRegistry, ConcurrentReadersSeeTheSameRecords) {
    const FormulasRegistry registry = FormulasRegistry::new_();
    std::vector<ConstantRecord> reference;
    for (const std::string& name : kBuiltinSorted) {
        reference.push_back(registry.get(name).value());
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            for (int round = 0; round < 300; ++round) {
                for (std::size_t i = 0; i < kBuiltinSorted.size(); ++i) {
                    const std::size_t k = (i + static_cast<std::size_t>(t)) % kBuiltinSorted.size();
                    const auto got = registry.get(kBuiltinSorted[k]);
                    if (!got || *got != reference[k]) {
                        mismatches.fetch_add(1);
                    }
                }
                if (registry.get("B3").has_value() || registry.len() != 17 ||
                    registry.sorted_names() != kBuiltinSorted) {
                    mismatches.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& t : readers) {
        t.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}

// One thread inserts (as a registry's builder does) while others look names
// up, count and list: a lookup must never see a torn table or record, and
// the shard locks are what keep them apart. Under ThreadSanitizer this test
// also catches an insert that takes its shard's lock shared.
TEST(FormulasRegistry, LookupsBesideAnInsertingThread) {
    FormulasRegistry registry = FormulasRegistry::with_shards(4);
    constexpr int kNames = 3000;
    std::atomic<int> inserted{0};
    std::atomic<int> problems{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < kNames; ++i) {
            const std::string name = numbered("n", i);
            if (registry.insert(name, ConstantRecord::seed(name, i, "count")).has_value()) {
                problems.fetch_add(1);
            }
            inserted.store(i + 1, std::memory_order_release);
        }
    });
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&, r] {
            while (inserted.load(std::memory_order_acquire) < kNames) {
                const int known = inserted.load(std::memory_order_acquire);
                for (int i = r; i < known; i += 97) {
                    const auto got = registry.get(numbered("n", i));
                    if (!got || got->name() != numbered("n", i) || got->value != i) {
                        problems.fetch_add(1);
                    }
                }
                if (registry.get(numbered("n", kNames)).has_value()) {
                    problems.fetch_add(1);
                }
            }
        });
    }
    threads.emplace_back([&] {
        while (inserted.load(std::memory_order_acquire) < kNames) {
            const std::uint64_t count = registry.len();
            const std::vector<std::string> names = registry.sorted_names();
            if (count > kNames || names.size() > kNames || !std::is_sorted(names.begin(), names.end())) {
                problems.fetch_add(1);
            }
        }
    });
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(problems.load(), 0);
    EXPECT_EQ(registry.len(), std::uint64_t{kNames});
    EXPECT_EQ(registry.sorted_names().size(), std::size_t{kNames});
}

}  // namespace
}  // namespace brenvalis::core
