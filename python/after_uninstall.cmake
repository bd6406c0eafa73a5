# SPDX-License-Identifier: MIT
# After `make uninstall` has removed the Python package's files: the bytecode Python wrote for
# them, then the package's folders where they are left empty, in every folder an install
# recorded (python_install_folders.txt beside this script).
set(record "${CMAKE_CURRENT_LIST_DIR}/python_install_folders.txt")
if(NOT EXISTS "${record}")
  return()
endif()
file(STRINGS "${record}" folders)
foreach(folder IN LISTS folders)
  file(GLOB bytecode "${folder}/__pycache__/__init__.*.pyc"
       "${folder}/__pycache__/pillow_plugin.*.pyc")
  if(bytecode)
    file(REMOVE ${bytecode})
  endif()
  foreach(empty "${folder}/__pycache__" "${folder}")
    file(GLOB left "${empty}/*")
    if(IS_DIRECTORY "${empty}" AND NOT left)
      file(REMOVE_RECURSE "${empty}")
    endif()
  endforeach()
endforeach()
file(REMOVE "${record}")
