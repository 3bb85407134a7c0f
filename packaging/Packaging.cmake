# --- Debian package ----------------------------------------------------------
# `cmake --build build --target package` (Release) writes
# build/strixel_VERSION_amd64.deb: the program in Debian's CGI folder, which
# Apache (a2enmod cgi) and lighttpd (lighty-enable-mod cgi) already serve at
# /cgi-bin/, the documentation and example server configurations. The
# release program is static, so the package depends on nothing.

# One version for the help page and the package: the help page's.
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/cgi/HtmlPages.cpp strixel_version_line
     REGEX "ProductVersion\\[\\] = \"[0-9.]+\"")
string(REGEX MATCH "[0-9][0-9.]*" STRIXEL_VERSION "${strixel_version_line}")
if(NOT STRIXEL_VERSION)
  message(FATAL_ERROR "no ProductVersion in cgi/HtmlPages.cpp")
endif()

set(STRIXEL_PACKAGE_MAINTAINER "Strixel maintainers <maintainers@strixel.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(strixel_doc share/doc/strixel)
install(TARGETS strixel.cgi RUNTIME DESTINATION lib/cgi-bin)
install(FILES README.md packaging/copyright DESTINATION ${strixel_doc})
# Where the README's links expect them.
install(FILES docs/deployment-failures.md docs/scale-out.md
        DESTINATION ${strixel_doc}/docs)
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/docs/try-page.png)
  install(FILES docs/try-page.png DESTINATION ${strixel_doc}/docs)
endif()
install(DIRECTORY packaging/examples/ DESTINATION ${strixel_doc}/examples)
install(FILES packaging/lintian-overrides DESTINATION share/lintian/overrides
        RENAME strixel)
# The web page comes with the sources only once it exists.
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/web)
  install(DIRECTORY web/ DESTINATION share/strixel/www)
endif()

# Debian wants the changelog compressed with gzip -9n (no name, no time).
configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog)
add_custom_target(strixel_changelog ALL
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${strixel_doc})

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME strixel)
set(CPACK_PACKAGE_VERSION ${STRIXEL_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STRIXEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "apache2 | lighttpd | nginx, fcgiwrap")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "CGI program that draws one-dimensional barcodes as PNG images")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A web server starts the program once per request. It encodes the text of
the request in one of 22 barcode types (the Code 39, Code 93 and Code 128
families, UCC/EAN-128, SSCC-18, EAN-14, EAN-13, EAN-8, UPC-A, UPC-E, the
EAN-2 and EAN-5 add-ons, the 2 of 5 family with ITF-14, Codabar, Code 11,
MSI, POSTNET and PLANET) and answers with a PNG image of the symbol and its
human-readable text.
.
The program is installed in /usr/lib/cgi-bin, which Apache and lighttpd
serve at /cgi-bin/ once their CGI module is enabled; examples for nginx
with fcgiwrap are included. It is linked statically and carries its font.")
include(CPack)
