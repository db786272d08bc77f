# The program's version has one source: the version in the project() call
# of the top CMakeLists.txt. The code reads it as BRELIX_VERSION, the
# packages as PROJECT_VERSION, CI from the configured cache. A project of
# its own beside it (fuzz/) reads the same line.
if(PROJECT_NAME STREQUAL "brelix")
  set(BRELIX_VERSION ${PROJECT_VERSION})
else()
  file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../CMakeLists.txt brelix_project_line
       REGEX "^project\\(brelix VERSION [0-9]")
  string(REGEX REPLACE "^project\\(brelix VERSION ([0-9][0-9.]*).*" "\\1" BRELIX_VERSION
         "${brelix_project_line}")
endif()
if(NOT BRELIX_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "no brelix version found in the top CMakeLists.txt")
endif()
add_compile_definitions(BRELIX_VERSION="${BRELIX_VERSION}")
