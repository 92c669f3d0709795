# Windows resources: the version of each program, and for the window
# program its icon (resource 1, which app/window.cpp loads), from
# cmake/version.rc.in.
function(tavelin_windows_resources target description with_icon)
  set(TAVELIN_RC_NAME ${target})
  set(TAVELIN_RC_DESCRIPTION "${description}")
  set(TAVELIN_RC_ICON "")
  if(with_icon)
    set(TAVELIN_RC_ICON "1 ICON \"${CMAKE_SOURCE_DIR}/desktop/tavelin.ico\"")
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}.rc PROPERTIES
    OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/desktop/tavelin.ico)
endfunction()
