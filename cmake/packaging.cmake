# Installation and packages: `cmake --install` puts brelix (installed by
# src/), its man page and its documents under the prefix; `cpack` in a
# native build makes a Debian package, in the Windows build a zip.
include(GNUInstallDirs)
# Packaging needs brelix itself, not the tools and tests beside it, so that
# CI can package after building one target.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(BRELIX_DOCUMENTS README.md CHANGELOG.md LICENSE)
list(TRANSFORM BRELIX_DOCUMENTS PREPEND ${PROJECT_SOURCE_DIR}/)

if(WIN32)
  # Windows has no man: the zip carries the page rendered as plain text,
  # with CRLF line ends, beside the program.
  find_program(BRELIX_GROFF groff)
  if(BRELIX_GROFF)
    set(man_text ${CMAKE_CURRENT_BINARY_DIR}/brelix.txt)
    add_custom_command(
      OUTPUT ${man_text}
      COMMAND ${CMAKE_COMMAND} -DGROFF=${BRELIX_GROFF} -DINPUT=${PROJECT_SOURCE_DIR}/man/brelix.1
              -DOUTPUT=${man_text} -P ${PROJECT_SOURCE_DIR}/cmake/render_man_page.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/man/brelix.1 ${PROJECT_SOURCE_DIR}/cmake/render_man_page.cmake
      COMMENT "Rendering the man page as text"
      VERBATIM)
    add_custom_target(brelix_man_text ALL DEPENDS ${man_text})
    # Installing needs only brelix built (above), so the text comes with it.
    add_dependencies(brelix brelix_man_text)
    install(FILES ${man_text} DESTINATION .)
  else()
    message(WARNING "groff not found: the Windows package carries the man page's roff source")
    install(FILES ${PROJECT_SOURCE_DIR}/man/brelix.1 DESTINATION .)
  endif()
  install(FILES ${BRELIX_DOCUMENTS} DESTINATION .)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/man/brelix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${BRELIX_DOCUMENTS} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME brelix)
set(CPACK_PACKAGE_VENDOR "the brelix developers")
set(CPACK_PACKAGE_CONTACT "the brelix developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "brelix concatenates the JavaScript sources of the Veltrano and Ombril packages into debug bundles, has uglifyjs minify them into release bundles, and minifies Veltrano's style sheets with its own CSS minifier.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
# Packages land in one folder of the build tree, whatever the working folder.
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_PACKAGE_FILE_NAME brelix-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # dpkg-shlibdeps (dpkg-dev) works out the library dependencies; without
  # it the package still builds, with no Depends line.
  find_program(BRELIX_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(BRELIX_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    message(STATUS "dpkg-shlibdeps not found: the Debian package declares no library dependencies")
  endif()
  # The JavaScript bundles need it at run time; Debian's package puts it on
  # PATH, which is where brelix looks.
  # libcurl is loaded only when a shared cache is used, so dpkg-shlibdeps
  # cannot see it.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "uglifyjs, libcurl4")
endif()

include(CPack)
