#include "tests/core/fake_platform.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace brenvalis::fake_platform {

namespace {

// Far above any descriptor the test process opens for real.
constexpr int kUrandomFd = 1 << 20;

template <class Function>
Function* real(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

ssize_t hand_out(std::deque<Chunk>& script, void* buffer, std::size_t size) {
    Chunk chunk = std::move(script.front());
    script.pop_front();
    if (chunk.error != 0) {
        errno = chunk.error;
        return -1;
    }
    const std::size_t n = std::min(size, chunk.bytes.size());
    if (n > 0) {  // an empty chunk's data() may be null, which memcpy must never get
        std::memcpy(buffer, chunk.bytes.data(), n);
    }
    return static_cast<ssize_t>(n);
}

}  // namespace

Stage& stage() {
    static Stage the_stage;
    return the_stage;
}

void reset() { stage() = Stage{}; }

}  // namespace brenvalis::fake_platform

using brenvalis::fake_platform::stage;

// Every system call takes at most six arguments, each passed as a long, so
// six are read whatever the call and handed on unchanged, as the C library's
// own syscall() does. A caller that passes fewer leaves the rest to be read
// from its own frame, which AddressSanitizer would report as an underflow of
// that frame (libstdc++'s atomic waits call futex with three): the values are
// never used, so the reads are left uninstrumented.
extern "C" __attribute__((no_sanitize("address"))) long syscall(long number, ...) {
    long arguments[6];
    va_list list;
    va_start(list, number);
    for (long& argument : arguments) {
        argument = va_arg(list, long);
    }
    va_end(list);
    if (number == SYS_getrandom && !stage().getrandom.empty()) {
        return brenvalis::fake_platform::hand_out(stage().getrandom, reinterpret_cast<void*>(arguments[0]),
                                                  static_cast<std::size_t>(arguments[1]));
    }
    return brenvalis::fake_platform::real<long(long, ...)>("syscall")(number, arguments[0], arguments[1], arguments[2],
                                                                      arguments[3], arguments[4], arguments[5]);
}

extern "C" int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if (std::strcmp(path, "/dev/urandom") == 0 && !stage().urandom_open.empty()) {
        const int error = stage().urandom_open.front();
        stage().urandom_open.pop_front();
        if (error != 0) {
            errno = error;
            return -1;
        }
        return brenvalis::fake_platform::kUrandomFd;
    }
    return brenvalis::fake_platform::real<int(const char*, int, ...)>("open")(path, flags, mode);
}

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    if (fd == brenvalis::fake_platform::kUrandomFd) {
        if (stage().urandom_read.empty()) {
            return 0;
        }
        return brenvalis::fake_platform::hand_out(stage().urandom_read, buffer, size);
    }
    return brenvalis::fake_platform::real<ssize_t(int, void*, size_t)>("read")(fd, buffer, size);
}

extern "C" int close(int fd) {
    if (fd == brenvalis::fake_platform::kUrandomFd) {
        ++stage().urandom_closes;
        return 0;
    }
    return brenvalis::fake_platform::real<int(int)>("close")(fd);
}

extern "C" int sched_getaffinity(pid_t pid, size_t bytes, cpu_set_t* mask) noexcept {
    auto& script = stage().affinity;
    if (script.empty()) {
        return brenvalis::fake_platform::real<int(pid_t, size_t, cpu_set_t*)>("sched_getaffinity")(pid, bytes, mask);
    }
    stage().affinity_mask_bytes.push_back(bytes);
    const brenvalis::fake_platform::Affinity result = script.front();
    if (script.size() > 1) {
        script.pop_front();
    }
    if (result.error != 0) {
        errno = result.error;
        return -1;
    }
    CPU_ZERO_S(bytes, mask);
    for (int cpu = 0; cpu < result.processors; ++cpu) {
        CPU_SET_S(cpu, bytes, mask);
    }
    return 0;
}

extern "C" long sysconf(int name) noexcept {
    if (name == _SC_NPROCESSORS_ONLN && !stage().online_processors.empty()) {
        ++stage().online_queries;
        const long answer = stage().online_processors.front();
        stage().online_processors.pop_front();
        return answer;
    }
    return brenvalis::fake_platform::real<long(int)>("sysconf")(name);
}

// The core reads small files through fopen, which the C library's headers
// turn into fopen64 where a 32-bit build asks for 64-bit file offsets; both
// are staged.
namespace {

FILE* open_staged(const char* path, const char* mode, const char* real_name) {
    const auto& files = stage().files;
    if (const auto staged = files.find(path); staged != files.end()) {
        if (staged->second == brenvalis::fake_platform::kMissing) {
            errno = ENOENT;
            return nullptr;
        }
        // A real file, so that every stdio call on it behaves as on the real
        // one: tmpfile, which every C library has, unlike memfd_create
        // (glibc 2.27).
        FILE* file = std::tmpfile();
        if (file == nullptr) {
            return nullptr;
        }
        const std::string& text = staged->second;
        if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0 ||
            std::fseek(file, 0, SEEK_SET) != 0) {
            std::fclose(file);
            return nullptr;
        }
        return file;
    }
    return brenvalis::fake_platform::real<FILE*(const char*, const char*)>(real_name)(path, mode);
}

}  // namespace

extern "C" FILE* fopen64(const char* path, const char* mode) { return open_staged(path, mode, "fopen64"); }

extern "C" FILE* fopen(const char* path, const char* mode) { return open_staged(path, mode, "fopen"); }
