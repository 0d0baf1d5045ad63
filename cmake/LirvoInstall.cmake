# What `cmake --install` puts in place beside the executables' own rules (lirvo, tally-standin,
# lirvo-demo, SampleData.mdb): the two libraries other programs build on, their headers, and the
# CMake package through which find_package(Lirvo) gives Lirvo::client and Lirvo::masters.
include(CMakePackageConfigHelpers)

set(LIRVO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Lirvo)

set_target_properties(lirvo_client PROPERTIES EXPORT_NAME client)
set_target_properties(lirvo_masters PROPERTIES EXPORT_NAME masters)
install(TARGETS lirvo_client lirvo_masters
  EXPORT LirvoTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/client/include/lirvo/modTally.h
  ${PROJECT_SOURCE_DIR}/client/include/lirvo/text.h
  ${PROJECT_SOURCE_DIR}/client/include/lirvo/encoding.h
  ${PROJECT_SOURCE_DIR}/client/include/lirvo/export_reply.h
  ${PROJECT_SOURCE_DIR}/masters/include/lirvo/modTallyIm.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lirvo)

install(EXPORT LirvoTargets NAMESPACE Lirvo:: DESTINATION ${LIRVO_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/LirvoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/LirvoConfig.cmake
  INSTALL_DESTINATION ${LIRVO_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/LirvoConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/LirvoConfig.cmake
  ${PROJECT_BINARY_DIR}/LirvoConfigVersion.cmake
  DESTINATION ${LIRVO_INSTALL_CMAKEDIR})
