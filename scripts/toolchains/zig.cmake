# Compiling for Linux with Zig's clang at a chosen glibc version. The
# environment names the folder of the toolchain's programs (BRENVALIS_ZIG_TOOLS:
# zig-cc, zig-c++, zig-ar, zig-ranlib and zig, which ensure_zig in
# scripts/common.sh writes beside the pinned zig) and the target
# (BRENVALIS_ZIG_TARGET, such as x86_64-linux-gnu.2.17). Zig links against
# that glibc version's symbols and builds libc++ for the target, so one
# toolchain serves every machine, and what it builds runs on any glibc from
# that version on.
set(CMAKE_SYSTEM_NAME Linux)
if(NOT DEFINED ENV{BRENVALIS_ZIG_TARGET} OR NOT DEFINED ENV{BRENVALIS_ZIG_TOOLS})
  message(FATAL_ERROR "zig.cmake: set BRENVALIS_ZIG_TOOLS (the folder of zig-c++ and the rest) and "
                      "BRENVALIS_ZIG_TARGET (such as x86_64-linux-gnu.2.17)")
endif()
set(BRENVALIS_ZIG ON)
string(REGEX MATCH "^[^-]+" BRENVALIS_ZIG_ARCH "$ENV{BRENVALIS_ZIG_TARGET}")
# Debian's multiarch name of the target, where its libraries are installed.
set(BRENVALIS_TRIPLETS x86_64=x86_64-linux-gnu aarch64=aarch64-linux-gnu x86=i386-linux-gnu
    arm=arm-linux-gnueabihf powerpc64le=powerpc64le-linux-gnu s390x=s390x-linux-gnu riscv64=riscv64-linux-gnu)
set(BRENVALIS_TRIPLET "")
foreach(pair IN LISTS BRENVALIS_TRIPLETS)
  if(pair MATCHES "^${BRENVALIS_ZIG_ARCH}=(.*)$")
    set(BRENVALIS_TRIPLET ${CMAKE_MATCH_1})
  endif()
endforeach()
if(NOT BRENVALIS_TRIPLET)
  message(FATAL_ERROR "zig.cmake: no Debian multiarch name known for the target $ENV{BRENVALIS_ZIG_TARGET}")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${BRENVALIS_ZIG_ARCH})

# Debian installs each machine's pyconfig.h as
# /usr/include/<multiarch>/python3.X/pyconfig.h, and the generic one in
# /usr/include/python3.X includes it by that path. Zig's compiler does not
# search /usr/include (its C library headers are its own, for the target's
# glibc version), so it is handed a folder holding only those paths.
file(GLOB BRENVALIS_MULTIARCH_PYTHONS LIST_DIRECTORIES true /usr/include/${BRENVALIS_TRIPLET}/python3.*)
if(BRENVALIS_MULTIARCH_PYTHONS)
  set(BRENVALIS_MULTIARCH_INCLUDE ${CMAKE_BINARY_DIR}/multiarch-python-include)
  file(MAKE_DIRECTORY ${BRENVALIS_MULTIARCH_INCLUDE}/${BRENVALIS_TRIPLET})
  foreach(headers IN LISTS BRENVALIS_MULTIARCH_PYTHONS)
    get_filename_component(name ${headers} NAME)
    file(CREATE_LINK ${headers} ${BRENVALIS_MULTIARCH_INCLUDE}/${BRENVALIS_TRIPLET}/${name} SYMBOLIC)
  endforeach()
  string(APPEND CMAKE_CXX_FLAGS_INIT " -isystem ${BRENVALIS_MULTIARCH_INCLUDE}")
endif()
set(CMAKE_LIBRARY_ARCHITECTURE ${BRENVALIS_TRIPLET})
set(CMAKE_C_COMPILER $ENV{BRENVALIS_ZIG_TOOLS}/zig-cc)
set(CMAKE_CXX_COMPILER $ENV{BRENVALIS_ZIG_TOOLS}/zig-c++)
# On the command line (--target=), not inside the programs: a compiler
# cache keys its entries on the command line and the compiler's file, and
# must not hand one target's objects to another.
set(CMAKE_C_COMPILER_TARGET $ENV{BRENVALIS_ZIG_TARGET})
set(CMAKE_CXX_COMPILER_TARGET $ENV{BRENVALIS_ZIG_TARGET})
# Zig's clang keeps a frame pointer in every function unless told not to;
# the small hot entries would pay for it on every call.
string(APPEND CMAKE_C_FLAGS_INIT " -fomit-frame-pointer")
string(APPEND CMAKE_CXX_FLAGS_INIT " -fomit-frame-pointer")
# Zig itself, which the SBOM asks for its version and its runtime's sources.
set(BRENVALIS_ZIG_PROGRAM $ENV{BRENVALIS_ZIG_TOOLS}/zig)
set(CMAKE_AR $ENV{BRENVALIS_ZIG_TOOLS}/zig-ar CACHE FILEPATH "")
set(CMAKE_RANLIB $ENV{BRENVALIS_ZIG_TOOLS}/zig-ranlib CACHE FILEPATH "")

# Zig links its own unwinder (libunwind) in, but glibc's pthread_exit
# unwinds a thread with libgcc_s's, and hands each C++ frame on the way to
# the frame's personality routine, which would read libgcc's unwind context
# through libunwind's functions. Linked against the system's libgcc_s (every
# glibc system has it), the C++ runtime uses that one unwinder for
# everything. The target's copy comes from Debian's multiarch packages; only
# its symbols matter, and those date from GCC 3 and 4.
find_file(BRENVALIS_LIBGCC_S libgcc_s.so.1 PATHS /usr/lib/${BRENVALIS_TRIPLET} /lib/${BRENVALIS_TRIPLET}
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT BRENVALIS_LIBGCC_S)
  message(FATAL_ERROR "zig.cmake: no libgcc_s.so.1 for ${BRENVALIS_TRIPLET} (install libgcc-s1:<its Debian architecture>)")
endif()
set(CMAKE_CXX_STANDARD_LIBRARIES_INIT "${BRENVALIS_LIBGCC_S}")
# The system's libgcc_s may itself use newer glibc functions (GCC 12's
# calls _dl_find_object, glibc 2.35) than the target's glibc version has:
# the program that runs there gets that system's libgcc_s, not this one.
# The linker checks a shared library's own needs only for executables.
#
# Executables are linked without symbols, like the release module
# (BRENVALIS_STRIP). Zig builds its C++ runtime for each target on the
# first link and caches it, keyed on whether the link strips (neither -O
# nor PIC splits the key, -fomit-frame-pointer does): with one setting for
# every link, CMake's compiler check, the core tests and the wheels of a
# machine share one build, where two took some 35 s more per machine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--allow-shlib-undefined -Wl,--strip-all")
