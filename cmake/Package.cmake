# SPDX-License-Identifier: GPL-2.0-or-later
# The Debian package: `cmake --build build --target package` (or `make
# package` at the top) writes build/quarnix_<version>_<arch>.deb with CPack.
# Included after cmake/Install.cmake, whose install rules fill the package.

if(QX_FUZZ)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarnix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quarnix developers")
set(CPACK_PACKAGE_CONTACT "The Quarnix developers <maintainers@quarnix.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "look into a game's resource archives and exchange their textures")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quarnix opens the resource archives of a 3D game: an archive directory (.dir,
with its data in the .img file beside it) or a standalone texture dictionary
(.txd). It lists the entries and the textures of a dictionary, shows a
texture, saves it as TGA, and imports a picture (TGA, BMP, PCX, DCX, ICO,
WMF, EMF, PNG, JPEG, TIFF) over a texture in place. Entries can be added,
replaced, renamed, removed and extracted, archives rebuilt and made, each
change one journalled transaction that can be undone.
.
quarnix-tool, the command-line companion, lists, extracts, exports and
imports the same way from a shell.")
# Licensed GPL-2.0-or-later: the package carries the licence as its
# copyright file (data/copyright, installed by cmake/Install.cmake) and the
# licence text itself.
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quarnix.org/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Shared libraries as dpkg-shlibdeps finds them, and the font files the
# metafile reader's libwmf looks up at run time (its own package only
# recommends them).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-urw-base35")

include(CPack)

# As the install check: the release build's package only.
if(QX_TESTS AND NOT QX_SANITIZE)
  find_program(QX_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT QX_DPKG_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps not found: run scripts/install-deps.sh")
  endif()
  add_test(NAME debian_package
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/desktop/package_test.sh ${CMAKE_BINARY_DIR} ${QX_APP_ID}
                   ${PROJECT_VERSION})
endif()
