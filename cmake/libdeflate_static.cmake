# SPDX-License-Identifier: MIT
# libdeflate for the Windows builds, which compress PNGs with it as the native build does: no
# MinGW package provides it, so its compression half is built here from Debian's source package
# (scripts/fetch-windows-sources.sh), the same version as the native build's, as the static
# library deflate_static. Nothing is defined when the source is missing.
set(LIBDEFLATE_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/deps/libdeflate" CACHE PATH
    "libdeflate source tree for the Windows programs")
if(EXISTS "${LIBDEFLATE_SOURCE_DIR}/libdeflate.h")
  set(deflate_sources adler32 crc32 deflate_compress utils zlib_compress x86/cpu_features)
  list(TRANSFORM deflate_sources PREPEND ${LIBDEFLATE_SOURCE_DIR}/lib/)
  list(TRANSFORM deflate_sources APPEND .c)
  add_library(deflate_static STATIC ${deflate_sources})
  target_include_directories(deflate_static PUBLIC ${LIBDEFLATE_SOURCE_DIR})
  # Its own flags (its Makefile's); not our code, so its warnings are not ours to fix.
  target_compile_options(deflate_static PRIVATE -O2 -fomit-frame-pointer -std=c99 -w)
else()
  message(STATUS "no libdeflate for the Windows programs: no libdeflate source in "
                 "${LIBDEFLATE_SOURCE_DIR} (scripts/fetch-windows-sources.sh)")
endif()
