# Cross build for 32-bit ARM Linux (Debian armhf) on a Debian machine, with
# the armhf libraries installed multiarch beside the native ones (no sysroot):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake
# `make test-armhf` installs what it needs and runs the tests under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# GCC notes that the ABI of passing some types changed in GCC 7.1: all of
# Kelno and the armhf libraries are built with GCC 12, so it does not matter.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# ctest runs the test programs (and gtest_discover_tests lists their tests)
# through the emulator; the tests start kelnod and the tools through it too
# (tests/support/ChildProcess.cpp). qemu-arm finds the armhf loader and
# libraries in their multiarch places, so it needs no -L.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)

# The armhf .pc files only; header-only nlohmann_json comes from /usr/share.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Build tools come from the host; libraries and headers of the target only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
