# cmake --install: the shared library, its headers, a CMake package for
# find_package(VARNOX) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS VARNOX EXPORT VARNOXTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES device/VARNOX.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/VARNOX/device)
install(FILES serial/COMPort.h serial/Export.h serial/SerialTypes.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/VARNOX/serial)

set(VARNOX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VARNOX)
install(EXPORT VARNOXTargets NAMESPACE VARNOX:: DESTINATION ${VARNOX_CMAKE_DIR})
configure_package_config_file(cmake/VARNOXConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VARNOXConfig.cmake INSTALL_DESTINATION ${VARNOX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VARNOXConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VARNOXConfig.cmake
  ${PROJECT_BINARY_DIR}/VARNOXConfigVersion.cmake DESTINATION ${VARNOX_CMAKE_DIR})

configure_file(cmake/VARNOX.pc.in ${PROJECT_BINARY_DIR}/VARNOX.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/VARNOX.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
