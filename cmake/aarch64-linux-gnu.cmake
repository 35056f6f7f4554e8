# Cross-compiles for 64-bit ARM Linux with Debian's cross compilers, against
# the arm64 libraries of Debian's multiarch (scripts/install-deps aarch64).
# Programs and tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
find_program(QUATDEPTH_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUATDEPTH_QEMU_AARCH64})
# Libraries and their CMake packages from the arm64 side only; programs
# (qemu, the tests' helpers) from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
