# An adapter library as the tester finds it: libftd2xx.so, or Ftd2xx.dll exporting the driver's
# entry points under their plain names (FT_Open, not FT_Open@8) through a module definition file,
# in a folder of its own so that it never stands in for an installed driver by accident.
function(add_adapter_library target folder definition_file)
  add_library(${target} SHARED ${ARGN})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/bus)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ftd2xx
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${folder}
    RUNTIME_OUTPUT_DIRECTORY ${folder})
  if(WIN32)
    target_sources(${target} PRIVATE ${definition_file})
    set_target_properties(${target} PROPERTIES OUTPUT_NAME Ftd2xx PREFIX "")
  endif()
endfunction()
