# The manual page, and the Debian package that CPack makes from the release
# build (cpack --preset release).
#
# cmake --install puts the program in bin/ under the prefix, so that an
# install for one user (--prefix ~/.local) lands on the PATH; the package
# moves it to /usr/games, where Debian keeps games, and compresses the page
# as Debian installs pages (cmake/DebianLayout.cmake).

install(FILES ${PROJECT_SOURCE_DIR}/doc/valdoria.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)


set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn-based battle game for the text console")
set(CPACK_PACKAGE_DESCRIPTION
    "Three heroes, Varen, Gorak and Mirel, fight one to five monsters, or the
Dread Colossus himself, in turns played by typing commands, spell names and
monster names at the game's prompts. The heroes' progress is kept between
battles and between runs, in three small files in the working directory.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "Valdoria Battle maintainers <maintainers@valdoria.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
# Dependencies on shared libraries, from dpkg-shlibdeps (Debian's dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianLayout.cmake)
# The same commit packs the same bytes: the time stamps are the project's.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/SourceDateEpoch.cmake)
# Read by these scripts.
set(CPACK_VALDORIA_BINDIR ${CMAKE_INSTALL_BINDIR})
set(CPACK_VALDORIA_STRIP ${CMAKE_STRIP})
set(CPACK_VALDORIA_MANDIR ${CMAKE_INSTALL_MANDIR})
set(CPACK_VALDORIA_SOURCE_DIR ${PROJECT_SOURCE_DIR})

include(CPack)
