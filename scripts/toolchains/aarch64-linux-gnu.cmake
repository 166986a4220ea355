# Cross-compiling for Linux on aarch64 with Debian's cross compiler
# (g++-aarch64-linux-gnu). Libraries and headers of the target come from
# Debian's multiarch folders (/usr/lib/aarch64-linux-gnu, ...), which the
# compiler searches by itself, so no sysroot is set.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
