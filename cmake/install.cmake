# What `cmake --install` puts where. On Linux: both programs, the data
# script as tavelin-get-data with its converter, the menu entry, its icon
# and the README (the repository holds no licence text to install). On
# Windows, for the zip: both programs and the README side by side.
include(GNUInstallDirs)

set(tavelin_programs tavelin-train)
if(TARGET tavelin)
  list(APPEND tavelin_programs tavelin)
endif()

if(WIN32)
  install(TARGETS ${tavelin_programs} RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
else()
  install(TARGETS ${tavelin_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(PROGRAMS scripts/get-data DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME tavelin-get-data)
  # tavelin-get-data looks for its converter in ../share/tavelin/ from
  # where it lies, so these two keep the default bin/ and share/.
  install(FILES scripts/mnist-json-to-idx.js DESTINATION ${CMAKE_INSTALL_DATADIR}/tavelin)
  install(FILES desktop/tavelin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES desktop/tavelin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 48 256)
    install(FILES desktop/tavelin-${size}.png RENAME tavelin.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
