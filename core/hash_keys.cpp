#include "core/hash_keys.hpp"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>
#include <thread>

#if defined(__linux__)
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(__APPLE__)
#include <fcntl.h>
#include <unistd.h>
// After unistd.h: this header declares getentropy with size_t but does not
// bring size_t in itself.
#include <sys/random.h>
#elif defined(_WIN32)
#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>
#elif defined(__unix__)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace brenvalis::core {

namespace {

#if defined(__linux__)

// Through syscall() rather than the C library's getrandom(), which glibc
// only has from 2.25 on: the wheels are linked against older glibc versions,
// on whose systems the kernel may still have the call (Linux 3.17 and later).
bool read_getrandom(unsigned char* out, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const long got = ::syscall(SYS_getrandom, out + done, size - done, 0u);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;  // ENOSYS on old kernels, EPERM under some seccomp filters
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__OpenBSD__)

bool read_getentropy(unsigned char* out, std::size_t size) noexcept {
    // One call hands out at most 256 bytes, and fills its whole request or
    // fails: there is no short read to resume.
    constexpr std::size_t kMaxRequest = 256;
    for (std::size_t done = 0; done < size;) {
        const std::size_t request = size - done < kMaxRequest ? size - done : kMaxRequest;
        if (::getentropy(out + done, request) != 0) {
            return false;
        }
        done += request;
    }
    return true;
}

#elif defined(_WIN32)

bool read_bcrypt(unsigned char* out, std::size_t size) noexcept {
    // The system-preferred generator needs no algorithm handle and fills the
    // whole request or fails; a request's size is a ULONG.
    constexpr std::size_t kMaxRequest = ULONG_MAX;
    for (std::size_t done = 0; done < size;) {
        const std::size_t request = size - done < kMaxRequest ? size - done : kMaxRequest;
        if (!BCRYPT_SUCCESS(
                ::BCryptGenRandom(nullptr, out + done, static_cast<ULONG>(request), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            return false;
        }
        done += request;
    }
    return true;
}

#endif

#if defined(__unix__) || defined(__APPLE__)

bool read_urandom(unsigned char* out, std::size_t size) noexcept {
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (done < size) {
        const ssize_t got = ::read(fd, out + done, size - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return ok;
}

#endif

// The operating system's random bytes, from its preferred interface first.
#if defined(__linux__)
bool read_system_random(unsigned char* out, std::size_t size) noexcept {
    return read_getrandom(out, size) || read_urandom(out, size);
}
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__OpenBSD__)
bool read_system_random(unsigned char* out, std::size_t size) noexcept {
    return read_getentropy(out, size) || read_urandom(out, size);
}
#elif defined(_WIN32)
bool read_system_random(unsigned char* out, std::size_t size) noexcept { return read_bcrypt(out, size); }
#elif defined(__unix__)
bool read_system_random(unsigned char* out, std::size_t size) noexcept { return read_urandom(out, size); }
#else
// No interface known: the clocks stand in.
bool read_system_random(unsigned char*, std::size_t) noexcept { return false; }
#endif

std::uint64_t process_id() noexcept {
#if defined(_WIN32)
    return ::GetCurrentProcessId();
#elif defined(__unix__) || defined(__APPLE__)
    return static_cast<std::uint64_t>(::getpid());
#else
    return 0;  // the thread id and the clocks still tell threads apart
#endif
}

std::uint64_t mix64(std::uint64_t x) noexcept {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    x ^= x >> 31;
    return x;
}

HashKeys draw_thread_keys() noexcept {
    unsigned char bytes[16];
    if (read_system_random(bytes, sizeof bytes)) {
        HashKeys keys;
        std::memcpy(&keys.k0, bytes, 8);
        std::memcpy(&keys.k1, bytes + 8, 8);
        return keys;
    }
    // No random source at all (a sandbox without /dev and without the
    // syscall). The keys only spread names over shards and slots; weaker keys
    // make collisions easier to provoke but never make a lookup wrong, so we
    // carry on with keys that still differ between threads and processes.
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const auto wall = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    const auto tid = static_cast<std::uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
    const std::uint64_t pid = process_id();
    return HashKeys{mix64(now ^ (pid << 32)), mix64(wall ^ tid)};
}

// Plain data with constant initialisation: thread_local access needs no
// guard call on the hot path of every registry build.
struct ThreadKeyState {
    bool drawn = false;
    HashKeys keys;
};
thread_local ThreadKeyState tls_keys;

}  // namespace

HashKeys next_map_keys() noexcept {
    ThreadKeyState& state = tls_keys;
    if (!state.drawn) [[unlikely]] {
        state.keys = draw_thread_keys();
        state.drawn = true;
    }
    const HashKeys current = state.keys;
    state.keys.k0 += 1;  // unsigned: wraps at 2^64
    return current;
}

}  // namespace brenvalis::core
