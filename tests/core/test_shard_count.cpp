#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/shard_count.hpp"

namespace brenvalis::core {
namespace {

TEST(ShardCount, FourPerProcessorRoundedUpToPowerOfTwo) {
    struct Case {
        std::optional<std::uint64_t> processors;
        std::size_t shards;
    };
    const Case cases[] = {
        {1, 4},
        {2, 8},
        {3, 16},
        {4, 16},
        {5, 32},
        {6, 32},
        {8, 32},
        {9, 64},
        {12, 64},
        {16, 64},
        {17, 128},
        {64, 256},
        {std::nullopt, 4},              // the platform query failed
        {0, 4},                         // a count of zero is no answer either
        {UINT64_MAX, kMaxShardAmount},  // x4 must not wrap to a tiny count
        {(UINT64_MAX >> 2) + 1, kMaxShardAmount},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.processors ? std::to_string(*c.processors) : "failed");
        EXPECT_EQ(shard_amount_for(c.processors), c.shards);
    }
}

TEST(ShardCount, CgroupV2CpuMax) {
    struct Case {
        std::string_view text;
        std::optional<std::uint64_t> limit;
    };
    const Case cases[] = {
        {"max 100000\n", std::nullopt},
        {"200000 100000\n", 2},
        {"150000 100000\n", 2},  // 1.5 processors round up
        {"50000 100000", 1},     // less than one processor is still one
        {"100000 100000", 1},
        {"  400000 50000  \n", 8},
        {"", std::nullopt},
        {"max", std::nullopt},
        {"100000", std::nullopt},    // no period
        {"100000 0", std::nullopt},  // a zero period would divide by zero
        {"-1 100000", std::nullopt},
        {"abc 100000", std::nullopt},
        {"100000 100000x", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(cgroup_v2_cpu_limit(c.text), c.limit);
    }
}

TEST(ShardCount, CgroupV1Quota) {
    struct Case {
        std::string_view quota;
        std::string_view period;
        std::optional<std::uint64_t> limit;
    };
    const Case cases[] = {
        {"-1\n", "100000\n", std::nullopt},
        {"300000\n", "100000\n", 3},
        {"250000", "100000", 3},
        {"1000", "100000", 1},
        {"100000", "0", std::nullopt},
        {"", "100000", std::nullopt},
        {"100000", "", std::nullopt},
        {"1e5", "100000", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.quota) + "/" + std::string(c.period));
        EXPECT_EQ(cgroup_v1_cpu_limit(c.quota, c.period), c.limit);
    }
}

TEST(ShardCount, ProcessAmountFollowsTheRuleAndIsFixed) {
    const std::size_t amount = process_shard_amount();
    EXPECT_EQ(amount, shard_amount_for(available_processors()));
    EXPECT_TRUE(std::has_single_bit(amount));
    EXPECT_GE(amount, 4u);
    EXPECT_EQ(process_shard_amount(), amount);
}

}  // namespace
}  // namespace brenvalis::core
