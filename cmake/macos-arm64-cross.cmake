# Cross-compiles for macOS 13.3 or later on Apple Silicon with Debian's clang 14
# and ld64.lld 14, against an unpacked macOS SDK named by the cache variable
# CALORIM_MACOS_SDK_ROOT. Programs link with the two-level namespace: every
# symbol found in a library is bound to that library, the frameworks through
# the SDK's link stubs and the counter-reporting library through the project's
# own stub (cmake/macos-stubs/libIOReport.tbd: its install name and the
# functions the darwin backend calls, nothing else, so that a call to any
# other is bound to no library and the check fails), and the system's ncurses,
# which an SDK subset may lack, through cmake/macos-stubs/libncurses.tbd (the
# functions calorim-top calls). The SDK has no stubs for
# libSystem or libc++: their symbols are left for the loader to look up, so the
# result is a Mach-O arm64 executable whose framework symbols are checked and
# which is not meant to run. scripts/check-macos.sh checks the bindings.

if(NOT CALORIM_MACOS_SDK_ROOT)
  message(FATAL_ERROR "Set CALORIM_MACOS_SDK_ROOT to an unpacked macOS SDK")
endif()
# try_compile projects see the same SDK.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CALORIM_MACOS_SDK_ROOT)

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(CMAKE_OSX_ARCHITECTURES arm64)
set(CMAKE_OSX_DEPLOYMENT_TARGET 13.3)
set(CMAKE_OSX_SYSROOT ${CALORIM_MACOS_SDK_ROOT})

set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_OBJCXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET arm64-apple-macos13.3)
set(CMAKE_CXX_COMPILER_TARGET arm64-apple-macos13.3)
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-fuse-ld=/usr/bin/ld64.lld-14 -nostdlib -Wl,-platform_version,macos,13.3,14.2 -Wl,-undefined,dynamic_lookup -L${CMAKE_CURRENT_LIST_DIR}/macos-stubs")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Headers only from the SDK, programs from the host.
set(CMAKE_FIND_ROOT_PATH ${CALORIM_MACOS_SDK_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
