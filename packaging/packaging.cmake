# Install rules and the CPack set-up: a Debian package on Linux
# (quorvel_<version>_<arch>.deb) and a zip on Windows
# (quorvel-<version>-win64.zip or -win32.zip). Made by scripts/package.
# Included from the top CMakeLists.txt after every program target exists.

set(QUORVEL_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QUORVEL_PROGRAMS quorvel-cli)
if(TARGET quorvel)
  list(APPEND QUORVEL_PROGRAMS quorvel)
endif()

if(WIN32)
  # Everything sits in the zip's one folder, ready to run from there. Both
  # programs link their C and C++ runtimes statically (cmake/mingw-w64-common.cmake);
  # any other DLL they import is shipped beside them.
  install(TARGETS ${QUORVEL_PROGRAMS} RUNTIME DESTINATION .)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                  OUTPUT_VARIABLE libgcc_file OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(libgcc_dir "${libgcc_file}" DIRECTORY)
  set(executables "")
  foreach(program IN LISTS QUORVEL_PROGRAMS)
    list(APPEND executables "$<TARGET_FILE:${program}>")
  endforeach()
  install(CODE "
    set(QUORVEL_EXECUTABLES \"${executables}\")
    set(QUORVEL_OBJDUMP \"${CMAKE_OBJDUMP}\")
    set(QUORVEL_DLL_DIRS \"${CMAKE_FIND_ROOT_PATH}/lib;${CMAKE_FIND_ROOT_PATH}/bin;${libgcc_dir}\")")
  install(SCRIPT ${QUORVEL_PACKAGING_DIR}/windows-runtime.cmake)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  include(GNUInstallDirs)
  # quorvel installs itself where it is defined; quorvel-cli is here.
  install(TARGETS quorvel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorvel)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${doc_dir})

  # The manual page, stamped with the version and compressed as man expects.
  configure_file(${QUORVEL_PACKAGING_DIR}/quorvel-cli.1 ${CMAKE_CURRENT_BINARY_DIR}/man/quorvel-cli.1 @ONLY)
  file(ARCHIVE_CREATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/man/quorvel-cli.1.gz
       PATHS ${CMAKE_CURRENT_BINARY_DIR}/man/quorvel-cli.1 FORMAT raw COMPRESSION GZip)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/quorvel-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # The menu entry and its icons come with the desktop program.
  if(TARGET quorvel)
    install(FILES ${QUORVEL_PACKAGING_DIR}/quorvel.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
    foreach(size 16 32 48 64 128 256)
      install(FILES ${QUORVEL_PACKAGING_DIR}/icons/hicolor/${size}x${size}/apps/quorvel.png
              DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  endif()
endif()

set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "The Quorvel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Quorvel developers <developers@quorvel.example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://quorvel.example.org")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fast tool for tangent-space normal maps")
set(CPACK_PACKAGE_DESCRIPTION
  "Quorvel opens normal maps stored as BMP, PNG, JPEG, Targa, PCX, Photoshop,
DDS or Netpbm files, inverts any of their X, Y and Z channels, re-normalises
them after scaling X and Y, tells their green convention (OpenGL or DirectX)
and saves BMP, PNG or Targa files. It comes as a desktop program (quorvel) and
a command-line tool (quorvel-cli) that converts whole folders in parallel.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME quorvel-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
  # The dependencies are read off the programs by dpkg-shlibdeps; the ASTC
  # library (Arm's astcenc, for .astc files) is also named here, at the
  # version whose interface encode/astc_codec.cpp is written against.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libastcenc3d (>= 4.2.0)")
  if(TARGET _quorvel)
    # The Python module is a package of its own, python3-quorvel, beside
    # quorvel (everything installed without a component).
    set(CPACK_DEB_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENTS_ALL Unspecified python)
    set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME quorvel)
    set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-quorvel)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.11), python3 (<< 3.12), python3-numpy")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-dask, python3-distributed")
    set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Quorvel's normal-map tools as a Python module\n\
 import quorvel: quorvel-cli's adjustments, checks, map making and file formats\n\
 on NumPy arrays, and folder runs spread over a Dask cluster.")
  endif()
endif()

include(CPack)
