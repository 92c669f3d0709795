# cpack: a Debian package from a Linux build, a zip from the MinGW build,
# each holding what cmake/install.cmake installs. scripts/package makes both
# from builds that run on any x86-64 (no -march=native).
set(CPACK_PACKAGE_NAME tavelin)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_CONTACT "Tavelin developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "trains a small neural network on handwritten digits and reads yours")
# Lines of a Debian description: short ones.
set(CPACK_PACKAGE_DESCRIPTION "Tavelin trains a small convolutional network on handwritten digits, then
lets you draw a digit with the mouse and shows what the network reads,
with its confidence. tavelin-train trains and evaluates without the
window; tavelin-get-data fetches the training digits into the user's
data folder, where both programs look for them.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  # The libraries the programs link (SDL2, SDL2_ttf, fontconfig, the C and
  # C++ runtimes), with the versions dpkg-shlibdeps reads off them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # What nothing links: the font fontconfig finds for the window's text, and
  # what tavelin-get-data runs (download, checksum, unpack, npm and node).
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, curl | wget, ca-certificates, nodejs, npm, mawk | awk")
endif()

include(CPack)
