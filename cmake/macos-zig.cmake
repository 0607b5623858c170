# Cross-builds the macOS tool for one architecture (MACHINEINFO_MACOS_ARCH: x86_64 or arm64), macOS 11.0
# and later, with Zig's clang and Mach-O linker (MACHINEINFO_ZIG_BIN: the folder of the wrappers that
# scripts/macos-zig writes). There is no Apple SDK here: the C library's headers are the ones Zig ships
# for macOS, the frameworks' declarations the stand-in's (they are Apple's, value for value), and the
# frameworks themselves the text stubs under platform/frameworks.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 20.0)  # Darwin 20: macOS 11
if(MACHINEINFO_MACOS_ARCH STREQUAL "arm64")
  set(CMAKE_SYSTEM_PROCESSOR arm64)
elseif(MACHINEINFO_MACOS_ARCH STREQUAL "x86_64")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
else()
  message(FATAL_ERROR "MACHINEINFO_MACOS_ARCH must be x86_64 or arm64, not '${MACHINEINFO_MACOS_ARCH}'")
endif()
if(NOT IS_DIRECTORY "${MACHINEINFO_ZIG_BIN}")
  message(FATAL_ERROR "MACHINEINFO_ZIG_BIN must name the folder of the Zig wrappers (scripts/macos-zig)")
endif()
# The compiler checks build test projects that run this file again: hand them the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MACHINEINFO_MACOS_ARCH MACHINEINFO_ZIG_BIN)

set(CMAKE_CXX_COMPILER "${MACHINEINFO_ZIG_BIN}/c++-${MACHINEINFO_MACOS_ARCH}")
set(CMAKE_AR "${MACHINEINFO_ZIG_BIN}/ar" CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB "${MACHINEINFO_ZIG_BIN}/ranlib" CACHE FILEPATH "Archive indexer")
# No SDK, no Xcode, no universal build in one pass: each architecture is a build of its own.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "" FORCE)
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "" FORCE)
set(CMAKE_COMPILE_WARNING_AS_ERROR ON)
# Zig's compiler writes debug information unless told not to, and a Mach-O executable would then name
# each object file (with its folder and time) for the debugger: none of it, so that the same sources
# give the same bytes. Code that nothing reaches is left out.
set(CMAKE_CXX_FLAGS_INIT "-g0")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-dead_strip")
set(MACHINEINFO_MACOS_CROSS ON)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
