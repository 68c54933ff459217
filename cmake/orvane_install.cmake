# Installation at the GNU directories, the CMake package (Orvane::orvane, Orvane::import when the
# importer is built), pkg-config files and the Debian package. Included last from the top-level
# CMakeLists.txt, so that every target it installs already exists.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVANE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Orvane CACHE STRING
  "Where the CMake package files are installed, relative to the prefix")
mark_as_advanced(ORVANE_INSTALL_CMAKEDIR)

# Headers: the umbrella, the subsystem headers and the generated version. The importer's header
# goes only with its library, so that no installed header declares functions nothing defines.
install(FILES ${PROJECT_SOURCE_DIR}/include/orvane.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
file(GLOB orvane_public_headers ${PROJECT_SOURCE_DIR}/include/orvane/*.h)
list(FILTER orvane_public_headers EXCLUDE REGEX "/import\\.h$")
install(FILES ${orvane_public_headers} ${ORVANE_GENERATED_INCLUDE}/orvane/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvane COMPONENT development)

set_target_properties(orvane PROPERTIES EXPORT_NAME orvane)
install(TARGETS orvane EXPORT OrvaneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
    NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(ORVANE_PC_FILES orvane)
if(TARGET orvane_import)
  # Finds liborvane beside itself under any prefix.
  set_target_properties(orvane_import PROPERTIES EXPORT_NAME import INSTALL_RPATH "$ORIGIN")
  install(TARGETS orvane_import EXPORT OrvaneTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
      NAMELINK_COMPONENT development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/include/orvane/import.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvane COMPONENT development)
  list(APPEND ORVANE_PC_FILES orvane_import)
endif()

if(TARGET orvane_tool)
  # The tool links the importer's shared library when it has the import command: found beside
  # it under any prefix.
  file(RELATIVE_PATH orvane_bin_to_lib "/root/${CMAKE_INSTALL_BINDIR}" "/root/${CMAKE_INSTALL_LIBDIR}")
  set_target_properties(orvane_tool PROPERTIES INSTALL_RPATH "$ORIGIN/${orvane_bin_to_lib}")
  install(TARGETS orvane_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

install(EXPORT OrvaneTargets NAMESPACE Orvane:: FILE OrvaneTargets.cmake
  DESTINATION ${ORVANE_INSTALL_CMAKEDIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OrvaneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OrvaneConfig.cmake
  INSTALL_DESTINATION ${ORVANE_INSTALL_CMAKEDIR})
# The library keeps its interface within a major version (the SONAME says the same).
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OrvaneConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OrvaneConfig.cmake ${PROJECT_BINARY_DIR}/OrvaneConfigVersion.cmake
  DESTINATION ${ORVANE_INSTALL_CMAKEDIR} COMPONENT development)

# pkg-config files that find their prefix from where they lie, so that one build serves
# `cmake --install --prefix` anywhere and the Debian package alike.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(ORVANE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(ORVANE_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(ORVANE_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH orvane_pc_up "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" orvane_pc_up "${orvane_pc_up}")
  set(ORVANE_PC_PREFIX "\${pcfiledir}/${orvane_pc_up}")
  set(ORVANE_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(ORVANE_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
foreach(pc IN LISTS ORVANE_PC_FILES)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
  COMPONENT development)
# The licence, under the name Debian gives it (share/doc/<package>/copyright).
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
  RENAME copyright COMPONENT runtime)
if(TARGET docs)
  # The reference is built with everything else whenever Doxygen is there (orvane_docs.cmake).
  install(DIRECTORY ${PROJECT_BINARY_DIR}/docs/html/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/html
    COMPONENT development)
endif()

# The Debian package: `cpack -G DEB` in the build folder. One package holds the library, its
# development files and the tool; its dependencies come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VENDOR "Orvane developers")
set(CPACK_PACKAGE_CONTACT "Orvane developers <orvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "run-time library for character animation")
set(CPACK_PACKAGE_DESCRIPTION
  "Orvane loads self-describing content files (skeletons, meshes, textures, compressed
animations), animates and blends model instances, builds world poses, skins meshes
and writes content files. This package holds the shared library, its C headers, the
CMake package and pkg-config file, and the orvane command-line tool.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_INSTALL_DIRECTORY orvane)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Stripped, as Debian ships binaries; gzip keeps packaging quick in CI.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's own libraries, for its programs and libraries that link them, are in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pkg-config)
include(CPack)
