# Cross build for 64-bit Raspberry Pi OS (arm64) on a Debian 12 PC:
#
#   sudo dpkg --add-architecture arm64 && sudo apt-get update
#   sudo apt-get install g++-aarch64-linux-gnu qtbase5-dev:arm64 libtiff-dev:arm64 \
#                        qtbase5-dev-tools qemu-user-static
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#   cmake --build build-arm64 -j
#   ctest --test-dir build-arm64        # every test runs under qemu-aarch64
#
# Debian's multiarch layout is the sysroot: the arm64 headers and libraries (Qt, libtiff,
# libc) live beside the PC's own under /usr/include/aarch64-linux-gnu and
# /usr/lib/aarch64-linux-gnu, where the cross compiler looks by itself. The Qt code
# generators (moc, uic, rcc) must run on the PC, so they are taken from the PC's
# qtbase5-dev-tools; Qt's arm64 CMake files only create their tool targets when these do
# not exist yet.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Programs (code generators, the emulator) are the PC's; libraries, headers and CMake
# package files are found through the arm64 multiarch paths.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

set(SCANSTATION_QT_HOST_BINS "/usr/lib/qt5/bin"
    CACHE PATH "Folder of the build machine's Qt 5 moc, uic and rcc")
foreach(tool moc uic rcc)
  if(NOT EXISTS "${SCANSTATION_QT_HOST_BINS}/${tool}")
    message(FATAL_ERROR "${SCANSTATION_QT_HOST_BINS}/${tool} is missing: "
                        "install the build machine's qtbase5-dev-tools")
  endif()
  if(NOT TARGET Qt5::${tool})
    add_executable(Qt5::${tool} IMPORTED GLOBAL)
    set_target_properties(Qt5::${tool} PROPERTIES
      IMPORTED_LOCATION "${SCANSTATION_QT_HOST_BINS}/${tool}")
  endif()
endforeach()

# Test programs run under user-mode emulation. The arm64 C library from the multiarch
# packages sits at the standard paths, so the emulator needs no library prefix.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(SCANSTATION_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
  if(SCANSTATION_QEMU_AARCH64)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${SCANSTATION_QEMU_AARCH64}")
  endif()
endif()
