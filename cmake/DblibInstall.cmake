# `cmake --install` puts the library, its headers (in their dblib/ and platform/ folders, so that
# includes such as "dblib/IB_Statement.h" work unchanged) and a CMake package configuration under the
# prefix: find_package(dblib CONFIG REQUIRED), then target_link_libraries(app PRIVATE dblib::dblib).
# A build with Qt 5 Widgets also installs the dialogs (headers in dialogs/) as the package's component
# "dialogs": find_package(dblib CONFIG REQUIRED COMPONENTS dialogs) gives dblib::dialogs.
include(CMakePackageConfigHelpers)

install(TARGETS dblib EXPORT dblibTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
foreach(dir dblib platform)
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${dir}
    FILES_MATCHING PATTERN "*.h")
endforeach()

set(DBLIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/dblib)
install(EXPORT dblibTargets NAMESPACE dblib:: DESTINATION ${DBLIB_CMAKE_DIR})
if(TARGET dblib_dialogs)
  install(TARGETS dblib_dialogs EXPORT dblibDialogsTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/dialogs/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dialogs
    FILES_MATCHING PATTERN "IBD_*.h")
  install(EXPORT dblibDialogsTargets NAMESPACE dblib:: DESTINATION ${DBLIB_CMAKE_DIR})
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/dblibConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/dblibConfig.cmake INSTALL_DESTINATION ${DBLIB_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/dblibConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/dblibConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/dblibConfigVersion.cmake
  DESTINATION ${DBLIB_CMAKE_DIR})
