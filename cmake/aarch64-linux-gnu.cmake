# Cross-compiles for 64-bit ARM Linux with Debian's aarch64-linux-gnu
# compiler, against the multiarch :arm64 packages installed beside the
# machine's own (scripts/deps.sh adds the architecture).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(FIRSTLOAD_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${FIRSTLOAD_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${FIRSTLOAD_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${FIRSTLOAD_CROSS_TRIPLET})

# Multiarch keeps arm64's libraries in /usr/lib/aarch64-linux-gnu and shares
# the headers; pkg-config reads that architecture's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${FIRSTLOAD_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# The one emulator, for ctest and the whole-run cases: called by name, as
# binfmt may not be registered in a container.
find_program(FIRSTLOAD_QEMU qemu-aarch64-static)
if(FIRSTLOAD_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/qemu-aarch64)
endif()
