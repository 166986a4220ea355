// The three C library functions that the linked-in C++ runtime needs under
// their IEEE quad names, on ppc64le built for a glibc older than 2.32.
//
// Zig's clang makes long double IEEE quad on ppc64le whatever the glibc it
// links against, and glibc's headers then bind the printf family to the
// __*ieee128 versions of each function, which glibc added in 2.32. The
// module's own code calls none of them, but the C++ runtime compiled the same
// way does: its abort messages (fprintf, vfprintf) and its demangler
// (snprintf). Linked for glibc 2.17, those names would be left unresolved,
// and the module would fail to load, or to report, on the older systems its
// wheel is for. These definitions hand each call to the function that every
// ppc64le glibc has. The formats they meet are the runtime's own (texts and
// integers), so the two long double layouts never come into it; the only
// exception is a long double literal in a demangled type name, which would
// print as a wrong number in a message the process writes before it aborts.
//
// Anywhere else (another machine, IBM double-double long double, a glibc of
// 2.32 or later, another compiler's defaults) this file compiles to nothing.
#include <cstdio>

#if defined(__linux__) && defined(__powerpc64__) && defined(__LONG_DOUBLE_IEEE128__) && defined(__GLIBC__) && \
    __GLIBC__ == 2 && __GLIBC_MINOR__ < 32

#include <cstdarg>
#include <cstddef>

extern "C" {

// The plain functions under their own names: through the headers' names
// they would be redirected to the very functions defined below.
int brenvalis_plain_vfprintf(std::FILE* stream, const char* format, std::va_list args) __asm__("vfprintf");
int brenvalis_plain_vsnprintf(char* buffer, std::size_t size, const char* format,
                              std::va_list args) __asm__("vsnprintf");

int __vfprintfieee128(std::FILE* stream, const char* format, std::va_list args) {
    return brenvalis_plain_vfprintf(stream, format, args);
}

int __fprintfieee128(std::FILE* stream, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const int written = brenvalis_plain_vfprintf(stream, format, args);
    va_end(args);
    return written;
}

int __snprintfieee128(char* buffer, std::size_t size, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const int written = brenvalis_plain_vsnprintf(buffer, size, format, args);
    va_end(args);
    return written;
}

}  // extern "C"

#endif
