# talve_version_info(TARGET DESCRIPTION): gives a Windows program of the kit
# the project's version information (cmake/version_info.rc.in). Other
# systems have no such thing; there it does nothing.
function(talve_version_info target description)
  if(NOT WIN32)
    return()
  endif()
  set(TALVE_PROGRAM_NAME ${target})
  set(TALVE_PROGRAM_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version_info.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
