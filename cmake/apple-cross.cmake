# Cross build of the macOS product on Linux: clang 16 and ld64.lld against a macOS SDK root
# given by MACOS_SDK (a -D value or the environment), universal arm64 + x86_64.
# What comes out links against the SDK's stubs and cannot run here.

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)

# try_compile projects read this file again; hand them the SDK root too.
if(NOT MACOS_SDK AND DEFINED ENV{MACOS_SDK})
  set(MACOS_SDK "$ENV{MACOS_SDK}")
endif()
if(NOT MACOS_SDK OR NOT EXISTS "${MACOS_SDK}/SDKSettings.json")
  message(FATAL_ERROR
    "apple-cross.cmake: set MACOS_SDK to a macOS SDK root (a MacOSX*.sdk folder with "
    "SDKSettings.json), e.g. -DMACOS_SDK=/path/to/MacOSX13.3.sdk")
endif()
set(MACOS_SDK "${MACOS_SDK}" CACHE PATH "macOS SDK root for the cross build")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MACOS_SDK)

set(tovanel_llvm_suffix -16)
find_program(TOVANEL_CLANG clang${tovanel_llvm_suffix} REQUIRED)
find_program(TOVANEL_CLANGXX clang++${tovanel_llvm_suffix} REQUIRED)
find_program(TOVANEL_LLD ld64.lld${tovanel_llvm_suffix} REQUIRED)
find_program(TOVANEL_LIPO llvm-lipo${tovanel_llvm_suffix} REQUIRED)
find_program(TOVANEL_LIBTOOL llvm-libtool-darwin${tovanel_llvm_suffix} REQUIRED)
find_program(CMAKE_INSTALL_NAME_TOOL llvm-install-name-tool${tovanel_llvm_suffix} REQUIRED)

# Full paths: a bare compiler name is no longer found once the sysroot is set.
set(CMAKE_C_COMPILER "${TOVANEL_CLANG}")
set(CMAKE_CXX_COMPILER "${TOVANEL_CLANGXX}")
set(CMAKE_OBJCXX_COMPILER "${TOVANEL_CLANGXX}")
foreach(lang C CXX OBJCXX)
  # Without a target clang builds for the Linux host.
  set(CMAKE_${lang}_COMPILER_TARGET arm64-apple-macos13.0)
endforeach()

set(CMAKE_OSX_SYSROOT "${MACOS_SDK}")
set(CMAKE_OSX_DEPLOYMENT_TARGET 13.0 CACHE STRING "Minimum macOS version")
set(CMAKE_OSX_ARCHITECTURES "arm64;x86_64" CACHE STRING "Architectures of the universal binaries")

# With two -arch flags clang's driver joins the slices by running a program named "lipo"; it
# finds it through -B in a folder of the build tree that holds only that link.
set(tovanel_cross_tools "${CMAKE_BINARY_DIR}/apple-cross-tools")
file(MAKE_DIRECTORY "${tovanel_cross_tools}")
file(CREATE_LINK "${TOVANEL_LIPO}" "${tovanel_cross_tools}/lipo" SYMBOLIC)

set(CMAKE_C_FLAGS_INIT "-B${tovanel_cross_tools}")
set(CMAKE_CXX_FLAGS_INIT "-B${tovanel_cross_tools} -stdlib=libc++")
set(CMAKE_OBJCXX_FLAGS_INIT "-B${tovanel_cross_tools} -stdlib=libc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld")

# Objects are universal, which ar cannot archive; libtool makes a universal static library.
foreach(lang C CXX OBJCXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "${TOVANEL_LIBTOOL} -static -o <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "${TOVANEL_LIBTOOL} -static -o <TARGET> <TARGET> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "")
endforeach()

# Headers and libraries come from the SDK only; programs from the host.
set(CMAKE_FIND_ROOT_PATH "${MACOS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
