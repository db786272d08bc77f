# Compiler settings shared by every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wimplicit-fallthrough)
# Narrowing and sign changes are where byte counts, code points and sizes
# silently go wrong; every one in the code is an explicit cast.
add_compile_options(-Wconversion -Wsign-conversion)
if(BRELIX_WERROR)
  add_compile_options(-Werror)
endif()
if(BRELIX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(WIN32)
  # One self-contained executable: Wine and users' machines need no MinGW DLLs.
  # The entry point is the ordinary main; the platform layer reads the
  # UTF-16 command line itself, so -municode (which wants wmain) is not used.
  add_link_options(-static)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
endif()

# brelix_library(NAME SOURCES...): a static library that may still be
# empty while its folder is being filled.
function(brelix_library name)
  set(sources ${ARGN})
  if(NOT sources)
    set(empty ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${empty} "// No sources in this library yet.\n")
    set(sources ${empty})
  endif()
  add_library(${name} STATIC ${sources})
endfunction()

# GCC 12 reports -Wrestrict for std::string concatenation and insertion at
# -O3 where no overlap is possible (GCC bug 105329); the warning is noise
# there, so it must not fail a warnings-as-errors build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()
