# Ondival installed like a library, for developers of club applications:
#
#   cmake --install build --prefix P
#     P/bin/ondival                           the command-line host
#     P/lib/libondvimp.so.1 (and .so)         the C interface
#     P/include/ondvimp.h                     its header
#     P/lib/pkgconfig/ondvimp.pc              pkg-config --cflags --libs ondvimp
#     P/lib/cmake/ondvimp/                    find_package(ondvimp) -> ondvimp::ondvimp
#     P/share/man/man1/ondival.1              written from ondival's own help
#     P/lib/python3/dist-packages/ondvimp/    the Python module
#
#   cpack -G DEB --config build/CPackConfig.cmake
#     build/ondival_<version>_<arch>.deb, the same files under /usr
#
# The component library, the host-side and sample libraries, the tests,
# benchmarks and scripts stay in the source tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ONDVIMP_PYTHON_DIR "${CMAKE_INSTALL_LIBDIR}/python3/dist-packages" CACHE STRING
    "Where the Python module ondvimp goes, relative to the prefix (/usr/lib/python3/dist-packages is on Debian's path)")
set(ONDVIMP_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/ondvimp")

# The source tree's include folder serves the build; an installed host
# compiles against the installed header.
set_property(TARGET ondvimp PROPERTY INTERFACE_INCLUDE_DIRECTORIES
             "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>" "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")

install(TARGETS ondival RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ondvimp EXPORT ondvimpTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/ondvimp.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# CMake package.
install(EXPORT ondvimpTargets NAMESPACE ondvimp:: DESTINATION ${ONDVIMP_CMAKE_DIR})
configure_package_config_file(cmake/ondvimpConfig.cmake.in ${PROJECT_BINARY_DIR}/cmake/ondvimpConfig.cmake
                              INSTALL_DESTINATION ${ONDVIMP_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/ondvimpConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/ondvimpConfig.cmake ${PROJECT_BINARY_DIR}/cmake/ondvimpConfigVersion.cmake
        DESTINATION ${ONDVIMP_CMAKE_DIR})

# pkg-config.
file(RELATIVE_PATH ONDVIMP_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" ONDVIMP_PC_TO_PREFIX "${ONDVIMP_PC_TO_PREFIX}")
configure_file(cmake/ondvimp.pc.in ${PROJECT_BINARY_DIR}/cmake/ondvimp.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/cmake/ondvimp.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Python module, with the place of the library beside it, relative so that
# the prefix may be moved (the Debian package is built in a staging copy).
install(DIRECTORY python/ondvimp DESTINATION ${ONDVIMP_PYTHON_DIR} FILES_MATCHING PATTERN "*.py"
        PATTERN __pycache__ EXCLUDE)
foreach(dir ONDVIMP_PYTHON_DIR CMAKE_INSTALL_LIBDIR)
  if(IS_ABSOLUTE "${${dir}}")
    set(full_${dir} "${${dir}}")
  else()
    set(full_${dir} "${CMAKE_INSTALL_PREFIX}/${${dir}}")
  endif()
endforeach()
file(RELATIVE_PATH ONDVIMP_PYTHON_TO_LIB "${full_ONDVIMP_PYTHON_DIR}/ondvimp" "${full_CMAKE_INSTALL_LIBDIR}")
string(REGEX REPLACE "/$" "" ONDVIMP_PYTHON_TO_LIB "${ONDVIMP_PYTHON_TO_LIB}")
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/python/_install_location.py CONTENT
     "# Written at install time: the library installed with this module, relative to its folder.\nLIBRARY = \"${ONDVIMP_PYTHON_TO_LIB}/$<TARGET_SONAME_FILE_NAME:ondvimp>\"\n")
install(FILES ${PROJECT_BINARY_DIR}/python/_install_location.py DESTINATION ${ONDVIMP_PYTHON_DIR}/ondvimp)

# Manual page, written from `ondival --help` and each command's help.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/ondival.1
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/cmake/ondival_man.py $<TARGET_FILE:ondival>
            ${PROJECT_BINARY_DIR}/ondival.1
    DEPENDS ondival ${PROJECT_SOURCE_DIR}/cmake/ondival_man.py
    COMMENT "Writing the manual page of ondival from its help")
  add_custom_target(ondival_man ALL DEPENDS ${PROJECT_BINARY_DIR}/ondival.1)
  install(FILES ${PROJECT_BINARY_DIR}/ondival.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "No python3: the manual page of ondival is not written nor installed")
endif()

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ondival)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ondival developers <ondival@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "import of a swimming federation's export into a club's host database")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Brings a swimming federation's export of clubs, licences and performances
(club.txt, licence.txt, liffn.txt, origine.txt) into a club's host database,
a SQLite file or a database on a PostgreSQL server, in one call, with a French
trace of every step.

This package holds the command-line host ondival, the shared library
libondvimp with its C header, pkg-config file and CMake package, and the
Python module ondvimp.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
# Dependencies from the libraries the binaries load (libsqlite3-0, libpq5,
# the C and C++ runtimes), a shlibs file, and the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3")
set(ONDVIMP_PACKAGED_PYTHON_DIR "${CPACK_PACKAGING_INSTALL_PREFIX}/${ONDVIMP_PYTHON_DIR}")
configure_file(cmake/prerm.in ${PROJECT_BINARY_DIR}/debian/prerm @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
