// How many shards a formulas registry gets.
//
// Four shards per processor the process may run on, rounded up to a power of
// two so that the shard index is a plain bit field of the name hash. The
// processor count is worked out once per process; the rule and the parsing of
// the control-group files are separate pure functions so that they can be
// tested without the machine they describe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace brenvalis::core {

// The ceiling keeps x4 and the rounding from overflowing on absurd inputs; no
// real processor count comes near it (it is 16384 processors).
inline constexpr std::size_t kMaxShardAmount = std::size_t{1} << 16;

// processors: the platform's answer, or nullopt when the query failed (treated
// as one processor, as is a reported count of zero).
std::size_t shard_amount_for(std::optional<std::uint64_t> processors) noexcept;

// Processors allowed by a cgroup v2 `cpu.max` text ("max 100000" or
// "quota period"): ceil(quota / period), or nullopt when there is no quota or
// the text is not understood.
std::optional<std::uint64_t> cgroup_v2_cpu_limit(std::string_view cpu_max) noexcept;

// The same for cgroup v1, from `cpu.cfs_quota_us` and `cpu.cfs_period_us`; a
// quota of -1 means no limit.
std::optional<std::uint64_t> cgroup_v1_cpu_limit(std::string_view quota_us, std::string_view period_us) noexcept;

// The processors available to this process. On Linux: the affinity set (else
// the online count), lowered to the control-group quota when that is smaller;
// elsewhere: the processor count the C++ library reports. nullopt when
// nothing could be read.
std::optional<std::uint64_t> available_processors() noexcept;

// shard_amount_for(available_processors()), computed on first use and fixed
// for the life of the process.
std::size_t process_shard_amount() noexcept;

}  // namespace brenvalis::core
