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
# With the prefix /usr, GNUInstallDirs puts the library, pkg-config file and
# CMake package in the multiarch directory (lib/x86_64-linux-gnu), as the
# Debian packages built from debian/ want them; the Python module stays in
# lib/python3/dist-packages, where Debian's python3 looks.
#
# The component library, the host-side and sample libraries, the tests,
# benchmarks and scripts stay in the source tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ONDVIMP_PYTHON_DIR "lib/python3/dist-packages" CACHE STRING
    "Where the Python module ondvimp goes, relative to the prefix (/usr/lib/python3/dist-packages is on Debian's path)")
option(ONDVIMP_PYTHON_LIBRARY_BESIDE
       "Tell the installed Python module where the library was installed (off: it asks the dynamic loader)" ON)
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
# the prefix may be moved. A system-wide installation whose library is on
# the loader's path (the Debian packages) leaves it out: the module is then
# the same file on every architecture.
install(DIRECTORY python/ondvimp DESTINATION ${ONDVIMP_PYTHON_DIR} FILES_MATCHING PATTERN "*.py"
        PATTERN __pycache__ EXCLUDE)
if(ONDVIMP_PYTHON_LIBRARY_BESIDE)
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
endif()

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
