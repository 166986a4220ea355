// The processor count when the platform's answers fail: the affinity set
// first (growing its mask until the kernel accepts it), then the online
// count; and the control-group quota that lowers it. Answers and files are
// staged through fake_platform. Where the control-group files are not
// staged, at most one processor is, so that the machine's own quota cannot
// lower the result and the expected values hold on any machine.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/shard_count.hpp"
#include "tests/core/fake_platform.hpp"

namespace brenvalis::core {
namespace {

using fake_platform::Affinity;

class ShardCountSources : public ::testing::Test {
protected:
    void SetUp() override { fake_platform::reset(); }
    void TearDown() override { fake_platform::reset(); }
};

TEST_F(ShardCountSources, AffinityMaskGrowsUntilTheKernelTakesIt) {
    fake_platform::stage().affinity = {{EINVAL, 0}, {EINVAL, 0}, {0, 1}};
    EXPECT_EQ(available_processors(), std::optional<std::uint64_t>(1));
    // 1024, 2048 and 4096 processors' worth of mask, in bytes.
    EXPECT_EQ(fake_platform::stage().affinity_mask_bytes, (std::vector<std::size_t>{128, 256, 512}));
    EXPECT_EQ(fake_platform::stage().online_queries, 0);
}

TEST_F(ShardCountSources, OnlineCountStandsInForAFailedAffinityQuery) {
    struct Case {
        const char* what;
        Affinity affinity;
        std::size_t queries;
    };
    const Case cases[] = {
        {"refused", {EPERM, 0}, 1},
        {"empty set", {0, 0}, 1},
        // Never accepted, up to a mask for 2^20 processors: eleven sizes.
        {"mask never large enough", {EINVAL, 0}, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_platform::reset();
        fake_platform::stage().affinity = {c.affinity};
        fake_platform::stage().online_processors = {1};
        EXPECT_EQ(available_processors(), std::optional<std::uint64_t>(1));
        EXPECT_EQ(fake_platform::stage().affinity_mask_bytes.size(), c.queries);
        EXPECT_EQ(fake_platform::stage().online_queries, 1);
    }
}

TEST_F(ShardCountSources, NothingKnownWhenBothQueriesFail) {
    for (const long online : {-1L, 0L}) {
        SCOPED_TRACE(online);
        fake_platform::reset();
        fake_platform::stage().affinity = {{EPERM, 0}};
        fake_platform::stage().online_processors = {online};
        EXPECT_EQ(available_processors(), std::nullopt);
        EXPECT_EQ(fake_platform::stage().online_queries, 1);
    }
}

TEST_F(ShardCountSources, ControlGroupQuotaLowersTheAffinityCount) {
    const std::string v2 = "/sys/fs/cgroup/cpu.max";
    const std::string v1_quota = "/sys/fs/cgroup/cpu/cpu.cfs_quota_us";
    const std::string v1_period = "/sys/fs/cgroup/cpu/cpu.cfs_period_us";
    const std::string v1_quota_alt = "/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us";
    const std::string v1_period_alt = "/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us";
    const char* missing = fake_platform::kMissing;
    const std::map<std::string, std::string> none = {
        {v2, missing}, {v1_quota, missing}, {v1_period, missing}, {v1_quota_alt, missing}, {v1_period_alt, missing}};
    struct Case {
        const char* what;
        std::map<std::string, std::string> files;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {"no control-group files", {}, 4},
        {"v2 quota of 1.5 processors", {{v2, "150000 100000\n"}}, 2},
        {"v2 without a quota", {{v2, "max 100000\n"}}, 4},
        {"v2 quota above the affinity count", {{v2, "800000 100000\n"}}, 4},
        {"v2 text not understood", {{v2, "150000\n"}}, 4},
        // v2 wins: its file is read first, and the v1 files are not consulted.
        {"v2 and v1", {{v2, "max 100000"}, {v1_quota, "100000"}, {v1_period, "100000"}}, 4},
        {"v1 quota of 1 processor", {{v1_quota, "100000\n"}, {v1_period, "100000\n"}}, 1},
        {"v1 without a quota", {{v1_quota, "-1\n"}, {v1_period, "100000\n"}}, 4},
        {"v1 under cpu,cpuacct", {{v1_quota_alt, "300000"}, {v1_period_alt, "100000"}}, 3},
        {"v1 quota without period", {{v1_quota, "100000"}}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_platform::reset();
        fake_platform::stage().affinity = {{0, 4}};
        std::map<std::string, std::string> files = c.files;
        files.insert(none.begin(), none.end());  // insert keeps the staged texts
        fake_platform::stage().files = files;
        EXPECT_EQ(available_processors(), std::optional<std::uint64_t>(c.expected));
    }
}

}  // namespace
}  // namespace brenvalis::core
