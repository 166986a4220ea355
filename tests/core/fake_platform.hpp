// Staged failures of the operating-system calls that the core makes.
//
// The core is a static library linked into the test executable, so its calls
// of syscall (for getrandom), open, read, close, sched_getaffinity, sysconf
// and fopen (fopen64 where file offsets are 64-bit on a 32-bit machine) bind
// to the definitions in fake_platform.cpp. Those take the next staged result
// when a test has staged one and otherwise forward to the C library (found
// with dlsym(RTLD_NEXT)), so everything else in the binary runs on the real
// calls.
// Stages are plain globals: set them, run the code under test (on a new thread
// where the code keeps per-thread state), read the counters, then reset().
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace brenvalis::fake_platform {

// One staged result of a call that hands out bytes: fail with `error`, or
// (error 0) hand out `bytes`, which may be fewer than asked for, or none (end
// of file).
struct Chunk {
    int error = 0;
    std::vector<unsigned char> bytes;
};

// One staged sched_getaffinity result: fail with `error`, or set the first
// `processors` bits of the caller's mask.
struct Affinity {
    int error = 0;
    int processors = 0;
};

struct Stage {
    // syscall(SYS_getrandom, ...): the staged results, in order.
    std::deque<Chunk> getrandom;
    // open("/dev/urandom"): the errno to fail with, or 0 to succeed with a
    // descriptor that only the fake read and close know.
    std::deque<int> urandom_open;
    std::deque<Chunk> urandom_read;
    int urandom_closes = 0;
    // When set, every affinity query takes the front entry, and the last one
    // stays for the rest; the mask sizes asked with are recorded.
    std::deque<Affinity> affinity;
    std::vector<std::size_t> affinity_mask_bytes;
    // sysconf(_SC_NPROCESSORS_ONLN): the staged answers, in order.
    std::deque<long> online_processors;
    int online_queries = 0;
    // Files opened through fopen or fopen64: a path listed here reads as the given
    // text, or does not exist when the text is kMissing; other paths are the
    // real files.
    std::map<std::string, std::string> files;
};

inline constexpr const char* kMissing = "\x01missing";

Stage& stage();
void reset();

}  // namespace brenvalis::fake_platform
