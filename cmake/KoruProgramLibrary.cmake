# koru_program_library(<target> [LINKS <libraries>...])
#
# The static library of one program folder: every *.cpp and *.h of the
# calling folder (picked up by glob, so a new file needs no edit here), Qt's
# meta-object compiler on, the folder itself and the source root on the
# include path of whoever links it. LINKS names what it may use: only the
# libraries of folders below it, and Qt.
function(koru_program_library target)
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${target} STATIC ${sources})
  set_target_properties(${target} PROPERTIES AUTOMOC ON)
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_LINKS})
endfunction()
