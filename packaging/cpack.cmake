# Debian package of the whole suite: cpack -G DEB in the build folder.
# Dependencies come from the shared libraries the installed programs and
# libraries link (dpkg-shlibdeps); the package also declares its own
# libraries, so ldconfig runs when it is installed.
set(CPACK_PACKAGE_NAME "korucontrol")
set(CPACK_PACKAGE_VENDOR "KORUControl developers")
set(CPACK_PACKAGE_CONTACT "KORUControl developers <korucontrol@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "control and monitoring of laboratory high-voltage and low-voltage power supplies")
set(CPACK_PACKAGE_DESCRIPTION
  "The C libraries libkoruhvwrapper (power supplies) and libKORUVME (VME bridges)
with their headers, CMake package and pkg-config files, the device simulators
(koru-sim) and, when built, the operator's program LUMO2020.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
if(TARGET LUMO2020)
  # Qt finds its platform plug-ins at run time: no linked library names them.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
if(NOT CMAKE_INSTALL_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  message(STATUS "The Debian package installs into /usr; configure with "
    "-DCMAKE_INSTALL_PREFIX=/usr to lay it out for that prefix (library folder "
    "${CMAKE_INSTALL_LIBDIR} now)")
endif()
include(CPack)
