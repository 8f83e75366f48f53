# Install rules for consumers of the library: the C++ header beside the C
# one, a CMake package (find_package(q32vex) -> q32vex::q32vex) and a
# relocatable pkg-config file. Included from the top-level CMakeLists.
include(CMakePackageConfigHelpers)

install(FILES ${PROJECT_SOURCE_DIR}/include/q32vex.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(Q32VEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/q32vex)
install(EXPORT q32vexTargets NAMESPACE q32vex:: DESTINATION ${Q32VEX_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/q32vexConfig.cmake.in
  ${PROJECT_BINARY_DIR}/q32vexConfig.cmake INSTALL_DESTINATION ${Q32VEX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/q32vexConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/q32vexConfig.cmake ${PROJECT_BINARY_DIR}/q32vexConfigVersion.cmake
  DESTINATION ${Q32VEX_CMAKE_DIR})

# pkg-config: the prefix relative to <libdir>/pkgconfig, so the installed
# tree may be moved.
file(RELATIVE_PATH Q32VEX_PC_PREFIX_FROM_PCDIR
  /q32vex-prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /q32vex-prefix)
string(REGEX REPLACE "/$" "" Q32VEX_PC_PREFIX_FROM_PCDIR "${Q32VEX_PC_PREFIX_FROM_PCDIR}")
if(WIN32)
  set(Q32VEX_PC_LIBNAME Q32VEX)
else()
  set(Q32VEX_PC_LIBNAME q32vex)
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/q32vex.pc.in ${PROJECT_BINARY_DIR}/q32vex.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/q32vex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
