# cpack: a Debian package from a Linux build, a zip from the MinGW build,
# each holding what cmake/install.cmake installs. scripts/package makes both
# from builds that run on any x86-64 (no -march=native), with the training
# digits bundled.
set(CPACK_PACKAGE_NAME tavelin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# A team, not a person, at an address under the reserved .invalid domain:
# it names no one and reaches no one until the project has a real one.
set(CPACK_PACKAGE_CONTACT "The Tavelin developers <tavelin@tavelin.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "trains a small neural network on handwritten digits and reads yours")
# Lines of a Debian description: short ones.
set(CPACK_PACKAGE_DESCRIPTION "Tavelin trains a small convolutional network on handwritten digits, then
lets you draw a digit with the mouse and shows what the network reads,
with its confidence. tavelin-train trains and evaluates without the
window. Both train at once on the 10000 MNIST digits installed with them;
tavelin-get-data fetches the full MNIST set into the user's data folder,
which both programs read before the installed digits.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  # The libraries the programs link (SDL2, SDL2_ttf, fontconfig, zlib, the
  # C and C++ runtimes), with the versions dpkg-shlibdeps reads off them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # What nothing links: the font fontconfig finds for the window's text.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
  # tavelin-get-data downloads the full set with curl or wget; only its
  # offline source, the npm package, needs node and npm.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "curl | wget, ca-certificates")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "nodejs, npm")
endif()

include(CPack)
