# What `cmake --install` puts where. On Linux: both programs, the data
# script as tavelin-get-data with its converter, the menu entry, its icon,
# the manual pages, the README with the licence, copyright and changelog
# files. On Windows, for the zip: both programs, the README and the licence
# side by side. Both: the training digits when TAVELIN_BUNDLED_DATA names
# them, where the programs look for installed data (training/).
set(tavelin_programs tavelin-train)
if(TARGET tavelin)
  list(APPEND tavelin_programs tavelin)
endif()

set(TAVELIN_BUNDLED_DATA "" CACHE PATH
  "A folder holding the four data files gzipped (train-images.idx3-ubyte.gz, ...) to install with the programs; scripts/package makes one")
if(TAVELIN_BUNDLED_DATA)
  set(tavelin_data_files)
  foreach(name train-images.idx3-ubyte train-labels.idx1-ubyte t10k-images.idx3-ubyte t10k-labels.idx1-ubyte)
    if(NOT EXISTS ${TAVELIN_BUNDLED_DATA}/${name}.gz)
      message(FATAL_ERROR "TAVELIN_BUNDLED_DATA: ${TAVELIN_BUNDLED_DATA}/${name}.gz is missing")
    endif()
    list(APPEND tavelin_data_files ${TAVELIN_BUNDLED_DATA}/${name}.gz)
  endforeach()
endif()

if(WIN32)
  install(TARGETS ${tavelin_programs} RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  if(TAVELIN_BUNDLED_DATA)
    install(FILES ${tavelin_data_files} DESTINATION data)
  endif()
  return()
endif()

install(TARGETS ${tavelin_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS scripts/get-data DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME tavelin-get-data)
# tavelin-get-data looks for its converter in ../share/tavelin/ from
# where it lies, and the programs for their data in ../share/tavelin/data,
# so these keep the default bin/ and share/.
install(PROGRAMS scripts/mnist-json-to-idx.js DESTINATION ${CMAKE_INSTALL_DATADIR}/tavelin)
if(TAVELIN_BUNDLED_DATA)
  install(FILES ${tavelin_data_files} DESTINATION ${CMAKE_INSTALL_DATADIR}/tavelin/data)
endif()
install(FILES desktop/tavelin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES desktop/tavelin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES desktop/tavelin-${size}.png RENAME tavelin.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
# The licence goes in the machine-readable copyright file, as Debian has it.
install(FILES README.md docs/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Compressed as a distribution ships them, without a time stamp so that
# the same sources give the same package.
set(tavelin_docs ${CMAKE_BINARY_DIR}/docs)
add_custom_command(OUTPUT ${tavelin_docs}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${tavelin_docs}
  COMMAND gzip -9n < ${CMAKE_SOURCE_DIR}/docs/changelog > ${tavelin_docs}/changelog.gz
  DEPENDS docs/changelog)
add_custom_command(OUTPUT ${tavelin_docs}/tavelin.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${tavelin_docs}
  COMMAND gzip -9n < ${CMAKE_SOURCE_DIR}/man/tavelin.1 > ${tavelin_docs}/tavelin.1.gz
  DEPENDS man/tavelin.1)
set(tavelin_manuals ${tavelin_docs}/tavelin.1.gz)
# The other two pages are made from the programs' --help by help2man.
find_program(TAVELIN_HELP2MAN help2man)
if(TAVELIN_HELP2MAN)
  foreach(program tavelin-train tavelin-get-data)
    if(program STREQUAL tavelin-get-data)
      # A copy without the converter beside it says what the installed one does.
      set(run ${tavelin_docs}/tavelin-get-data)
      set(make_it ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/scripts/get-data ${run})
      set(made_from scripts/get-data)
    else()
      set(run $<TARGET_FILE:tavelin-train>)
      set(make_it ${CMAKE_COMMAND} -E true)
      set(made_from tavelin-train)
    endif()
    add_custom_command(OUTPUT ${tavelin_docs}/${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${tavelin_docs}
      COMMAND ${make_it}
      COMMAND ${TAVELIN_HELP2MAN} --no-info --version-string=${PROJECT_VERSION}
              --include=${CMAKE_SOURCE_DIR}/man/${program}.h2m --output=${tavelin_docs}/${program}.1 ${run}
      COMMAND gzip -9nf ${tavelin_docs}/${program}.1
      DEPENDS ${made_from} man/${program}.h2m)
    list(APPEND tavelin_manuals ${tavelin_docs}/${program}.1.gz)
  endforeach()
else()
  message(STATUS "help2man not found: only the window program's manual page is installed")
endif()
add_custom_target(tavelin-docs ALL DEPENDS ${tavelin_docs}/changelog.gz ${tavelin_manuals})
install(FILES ${tavelin_docs}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${tavelin_manuals} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
