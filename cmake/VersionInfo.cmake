# kestrix_version_resource(TARGET FILE_NAME DESCRIPTION): gives a deliverable its version
# resource, which names the build's bitness beside the description.
function(kestrix_version_resource target_name target_file description)
  get_target_property(type ${target_name} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(file_type VFT_DLL)
  else()
    set(file_type VFT_APP)
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target_name}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${rc} @ONLY)
  target_sources(${target_name} PRIVATE ${rc})
endfunction()
