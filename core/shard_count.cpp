#include "core/shard_count.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#include <unistd.h>
#endif

namespace brenvalis::core {

namespace {

std::string_view trim(std::string_view text) noexcept {
    const auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && is_space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The whole (trimmed) text must be one decimal integer.
std::optional<std::int64_t> parse_int(std::string_view text) noexcept {
    text = trim(text);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> quota_in_processors(std::int64_t quota, std::int64_t period) noexcept {
    if (quota <= 0 || period <= 0) {
        return std::nullopt;
    }
    const auto q = static_cast<std::uint64_t>(quota);
    const auto p = static_cast<std::uint64_t>(period);
    return q / p + (q % p != 0 ? 1 : 0);
}

#if defined(__linux__)

// Through the C library's stdio, not a file stream: a stream brings the C++
// runtime's locale machinery into the module, and with it the printf and
// strtold families, which on ppc64le (IEEE quad long double) bind to
// versions glibc added only in 2.32.
std::optional<std::string> read_small_file(const char* path) {
    std::FILE* file = std::fopen(path, "re");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::string text;
    char chunk[256];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::uint64_t> affinity_count() noexcept {
    // The kernel refuses a mask smaller than its own (EINVAL), so grow the
    // mask until it fits rather than trusting the 1024-CPU cpu_set_t.
    for (std::size_t cpus = 1024; cpus <= (std::size_t{1} << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr) {
            return std::nullopt;
        }
        const std::size_t bytes = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(bytes, set);
        const int rc = ::sched_getaffinity(0, bytes, set);
        const int count = rc == 0 ? CPU_COUNT_S(bytes, set) : 0;
        const int err = errno;
        CPU_FREE(set);
        if (rc == 0) {
            return count > 0 ? std::optional<std::uint64_t>(count) : std::nullopt;
        }
        if (err != EINVAL) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> cgroup_limit() {
    if (auto v2 = read_small_file("/sys/fs/cgroup/cpu.max")) {
        return cgroup_v2_cpu_limit(*v2);
    }
    // v1 mounts the controller under either name depending on the distribution.
    const char* const v1_dirs[] = {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct"};
    for (const char* dir : v1_dirs) {
        const std::string base(dir);
        auto quota = read_small_file((base + "/cpu.cfs_quota_us").c_str());
        auto period = read_small_file((base + "/cpu.cfs_period_us").c_str());
        if (quota && period) {
            return cgroup_v1_cpu_limit(*quota, *period);
        }
    }
    return std::nullopt;
}

#endif

}  // namespace

std::size_t shard_amount_for(std::optional<std::uint64_t> processors) noexcept {
    std::uint64_t count = processors.value_or(1);
    if (count == 0) {
        count = 1;
    }
    count = std::min<std::uint64_t>(count, kMaxShardAmount / 4);
    return std::bit_ceil(static_cast<std::size_t>(count * 4));
}

std::optional<std::uint64_t> cgroup_v2_cpu_limit(std::string_view cpu_max) noexcept {
    cpu_max = trim(cpu_max);
    const std::size_t space = cpu_max.find(' ');
    if (space == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view quota_text = cpu_max.substr(0, space);
    if (quota_text == "max") {
        return std::nullopt;
    }
    const auto quota = parse_int(quota_text);
    const auto period = parse_int(cpu_max.substr(space + 1));
    if (!quota || !period) {
        return std::nullopt;
    }
    return quota_in_processors(*quota, *period);
}

std::optional<std::uint64_t> cgroup_v1_cpu_limit(std::string_view quota_us, std::string_view period_us) noexcept {
    const auto quota = parse_int(quota_us);
    const auto period = parse_int(period_us);
    if (!quota || !period) {
        return std::nullopt;
    }
    return quota_in_processors(*quota, *period);
}

#if defined(__linux__)

std::optional<std::uint64_t> available_processors() noexcept {
    std::optional<std::uint64_t> count = affinity_count();
    if (!count) {
        const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
        if (online > 0) {
            count = static_cast<std::uint64_t>(online);
        }
    }
    if (!count) {
        return std::nullopt;
    }
    try {
        if (const auto limit = cgroup_limit(); limit && *limit < *count) {
            count = limit;
        }
    } catch (...) {
        // Reading the control-group files is best effort: without them the
        // affinity count stands.
    }
    return count;
}

#else

// Neither an affinity set nor a quota is read here: a count above what the
// process may use only makes more shards than it needs, never a wrong answer.
// The C++ library reports 0 when it cannot tell.
std::optional<std::uint64_t> available_processors() noexcept {
    const unsigned int count = std::thread::hardware_concurrency();
    if (count == 0) {
        return std::nullopt;
    }
    return count;
}

#endif

std::size_t process_shard_amount() noexcept {
    // A function-local static: initialised once, thread-safely, on first use.
    static const std::size_t amount = shard_amount_for(available_processors());
    return amount;
}

}  // namespace brenvalis::core
