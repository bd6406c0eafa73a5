# SPDX-License-Identifier: MIT
# Writes a gdk-pixbuf loader cache that lists the system's own modules and the freshly built
# ones, so that programs started with GDK_PIXBUF_MODULE_FILE pointing at it open every format
# they did before and GRA and Q pictures besides.
#   cmake -DQUERY_LOADERS=... -DSYSTEM_MODULE_DIR=... "-DMODULES=a.so;b.so" -DOUTPUT=...
#         -P loaders_cache.cmake
file(GLOB system_modules "${SYSTEM_MODULE_DIR}/*.so")
# An installed copy of ours would be a second module of the same format: the fresh one counts.
list(FILTER system_modules EXCLUDE REGEX "/libpixbufloader-(gra|q)\\.so$")
execute_process(COMMAND "${QUERY_LOADERS}" ${system_modules} ${MODULES}
                OUTPUT_FILE "${OUTPUT}.part" RESULT_VARIABLE failed)
if(failed)
  file(REMOVE "${OUTPUT}.part")
  message(FATAL_ERROR "${QUERY_LOADERS} failed: ${failed}")
endif()
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
