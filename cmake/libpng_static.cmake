# SPDX-License-Identifier: MIT
# libpng for the Windows builds: no MinGW package provides it, so it is built here from its
# source tree (scripts/fetch-windows-sources.sh), over MinGW's zlib, as the static library
# png_static. Nothing is defined when the source or zlib is missing.
set(LIBPNG_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/deps/libpng" CACHE PATH
    "libpng source tree for the Windows programs")
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB)
if(EXISTS "${LIBPNG_SOURCE_DIR}/png.h" AND ZLIB_FOUND)
  set(png_generated ${PROJECT_BINARY_DIR}/libpng)
  configure_file(${LIBPNG_SOURCE_DIR}/scripts/pnglibconf.h.prebuilt
                 ${png_generated}/pnglibconf.h COPYONLY)
  set(png_sources png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset
                  pngtrans pngwio pngwrite pngwtran pngwutil)
  list(TRANSFORM png_sources PREPEND ${LIBPNG_SOURCE_DIR}/)
  list(TRANSFORM png_sources APPEND .c)
  add_library(png_static STATIC ${png_sources})
  target_include_directories(png_static PUBLIC ${LIBPNG_SOURCE_DIR} ${png_generated})
  target_compile_options(png_static PRIVATE -w)  # not our code: its warnings are not ours to fix
  target_compile_definitions(png_static PRIVATE PNG_ARM_NEON_OPT=0 PNG_INTEL_SSE_OPT=0)
  target_link_libraries(png_static PUBLIC ZLIB::ZLIB)
else()
  message(STATUS "no libpng for the Windows programs: no libpng source in ${LIBPNG_SOURCE_DIR} "
                 "(scripts/fetch-windows-sources.sh) or no MinGW zlib")
endif()
