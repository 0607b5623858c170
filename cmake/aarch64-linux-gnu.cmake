# Cross-builds for 64-bit Arm Linux with Debian's aarch64-linux-gnu cross compiler, against Debian's
# arm64 packages installed beside the host's (multiarch). Programs built here that run at build or
# test time (test discovery, the tests themselves) run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Libraries, CMake packages and pkg-config files of /usr/lib/aarch64-linux-gnu, never the host's.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
find_program(MACHINEINFO_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(MACHINEINFO_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MACHINEINFO_QEMU_AARCH64})
endif()
