#include "core/hash_keys.hpp"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <thread>
#include <unistd.h>

namespace brenvalis::core {

namespace {

bool read_getrandom(unsigned char* out, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::getrandom(out + done, size - done, 0);
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
    if (read_getrandom(bytes, sizeof bytes) || read_urandom(bytes, sizeof bytes)) {
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
    const auto pid = static_cast<std::uint64_t>(::getpid());
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
