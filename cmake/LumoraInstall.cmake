# Install rules, the pkg-config file, the CMake package and the Debian packages.
#
# Components: `lib` (the shared library with its SONAME link), `dev` (headers, the unversioned
# link, pkg-config and CMake package files), `tools` (the lumora command, lumora-viewer with its
# translations and desktop entry, the udev rule, docs),
# `python` (the Python binding), `gstreamer` (lumorasrc), `dialogs` (the GTK view and its
# translations).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LUMORA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Lumora)

set_target_properties(LumoraSdk_M5XIR_TEC PROPERTIES EXPORT_NAME Sdk)
install(TARGETS LumoraSdk_M5XIR_TEC EXPORT LumoraTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/lumora
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev FILES_MATCHING PATTERN "*.h")
install(EXPORT LumoraTargets NAMESPACE Lumora:: FILE LumoraTargets.cmake
  DESTINATION ${LUMORA_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/LumoraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/LumoraConfig.cmake INSTALL_DESTINATION ${LUMORA_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/LumoraConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/LumoraConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/LumoraConfigVersion.cmake
  DESTINATION ${LUMORA_CMAKE_DIR} COMPONENT dev)

# pkg-config: paths relative to the file itself, so an installed tree can be moved. A library
# outside the linker's own folders is not found at run time either, so for such a prefix Libs
# also gives the programs it links a run path to it. The prefix is only known for certain when
# installing (`cmake --install --prefix`), so both forms are made and the install picks one.
file(RELATIVE_PATH LUMORA_PC_TO_PREFIX
  /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" LUMORA_PC_TO_PREFIX "${LUMORA_PC_TO_PREFIX}")
set(LUMORA_PC_RUNPATH "")
configure_file(${PROJECT_SOURCE_DIR}/packaging/lumora.pc.in
  ${PROJECT_BINARY_DIR}/packaging/system/lumora.pc @ONLY)
set(LUMORA_PC_RUNPATH " -Wl,-rpath,\${libdir}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/lumora.pc.in
  ${PROJECT_BINARY_DIR}/packaging/runpath/lumora.pc @ONLY)
install(CODE "
  set(lumora_pc_form runpath)
  get_filename_component(lumora_libdir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\" ABSOLUTE)
  foreach(dir IN ITEMS ${CMAKE_C_IMPLICIT_LINK_DIRECTORIES})
    get_filename_component(dir \"\${dir}\" ABSOLUTE)
    if(dir STREQUAL lumora_libdir)
      set(lumora_pc_form system)
    endif()
  endforeach()
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
       TYPE FILE FILES \"${PROJECT_BINARY_DIR}/packaging/\${lumora_pc_form}/lumora.pc\")
" COMPONENT dev)

# Installed programs and modules find the library through a run path relative to themselves,
# so a tree installed anywhere (and moved) runs without LD_LIBRARY_PATH or ldconfig.
function(lumora_install_runpath target from)
  file(RELATIVE_PATH relative /${from} /${CMAKE_INSTALL_LIBDIR})
  string(REGEX REPLACE "/$" "" relative "${relative}")
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${relative}")
endfunction()

if(TARGET lumora)
  lumora_install_runpath(lumora ${CMAKE_INSTALL_BINDIR})
  install(TARGETS lumora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
if(TARGET lumora-viewer)
  lumora_install_runpath(lumora-viewer ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET gstlumora)
  lumora_install_runpath(gstlumora ${CMAKE_INSTALL_LIBDIR}/gstreamer-1.0)
endif()
# The udev rule: a packaged rule goes below /lib/udev/rules.d; a plain install below the prefix.
file(GLOB LUMORA_UDEV_RULES ${PROJECT_SOURCE_DIR}/packaging/*.rules
  ${PROJECT_BINARY_DIR}/packaging/*.rules)
set(LUMORA_UDEV_DIR "lib/udev/rules.d" CACHE STRING
  "Where the udev rule is installed (relative to the prefix, or absolute)")
if(LUMORA_UDEV_RULES)
  install(FILES ${LUMORA_UDEV_RULES} DESTINATION ${LUMORA_UDEV_DIR} COMPONENT tools)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tools)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
  COMPONENT dev FILES_MATCHING PATTERN "*.c" PATTERN "*.py")

# The Python binding: pure Python over the C interface, in Debian's folder for such modules.
set(LUMORA_PYTHON_DIR "lib/python3/dist-packages" CACHE STRING
  "Where the Python package is installed (relative to the prefix)")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/lumora DESTINATION ${LUMORA_PYTHON_DIR}
  COMPONENT python FILES_MATCHING PATTERN "*.py" PATTERN "py.typed")
# Where the installed package finds the library: relative to itself, like the programs' run path.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(LUMORA_PYTHON_TO_LIBRARY "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH LUMORA_PYTHON_TO_LIBRARY /${LUMORA_PYTHON_DIR}/lumora /${CMAKE_INSTALL_LIBDIR})
  string(REGEX REPLACE "/$" "" LUMORA_PYTHON_TO_LIBRARY "${LUMORA_PYTHON_TO_LIBRARY}")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/packaging/python/_installed.py
  "# Written by the installation: the SDK library's folder, relative to this package.\n"
  "LIBRARY_DIR = \"${LUMORA_PYTHON_TO_LIBRARY}\"\n")
install(FILES ${PROJECT_BINARY_DIR}/packaging/python/_installed.py
  DESTINATION ${LUMORA_PYTHON_DIR}/lumora COMPONENT python)

# Debian packages: liblumorasdk2 (library), liblumorasdk-dev, lumora-tools, python3-lumora.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora)
set(CPACK_PACKAGE_VENDOR "Quenta")
set(CPACK_PACKAGE_CONTACT "Lumora SDK maintainers <sdk@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SDK of the Lumora M5XIR TEC short-wave-infrared USB 3.0 camera")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib dev tools python)
if(TARGET gstlumora)
  list(APPEND CPACK_COMPONENTS_ALL gstreamer)
endif()
if(TARGET lumora_gtk)
  list(APPEND CPACK_COMPONENTS_ALL dialogs)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The command links the library of its sibling package: dpkg-shlibdeps finds it in the build
# tree, and the sibling dependency is stated exactly below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_PACKAGE_NAME liblumorasdk${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_DESCRIPTION "Lumora camera SDK: the shared library\n The C interface (Lumora_*) that finds, controls and captures from Lumora M5XIR TEC\n cameras, with a simulated camera for work without hardware.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME liblumorasdk-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "liblumorasdk${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION "Lumora camera SDK: headers and build files\n Public headers, pkg-config file (lumora) and CMake package (find_package(Lumora),\n target Lumora::Sdk).")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME lumora-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "liblumorasdk${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "Lumora camera SDK: the lumora command, lumora-viewer and the udev rule\n List, describe, capture from and stream from Lumora cameras; lumora-viewer, the\n desktop application with the live picture, histogram, measurements, controls,\n flat field and recording; udev rule for access without root.")
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-lumora)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "liblumorasdk${PROJECT_VERSION_MAJOR} (>= ${PROJECT_VERSION}), python3, python3-numpy")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Lumora camera SDK: Python binding\n with lumora.Camera(sim=1) as cam: frame = cam.snap()  (numpy arrays)")
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_NAME gstreamer1.0-lumora)
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_SECTION video)
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_DEPENDS "liblumorasdk${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_GSTREAMER_DESCRIPTION "Lumora camera SDK: GStreamer source element lumorasrc\n Live GRAY8 or GRAY16_LE (12 significant bits) frames of Lumora cameras.")
# The dialogs' GTK view is a package of its own, so the library needs no GTK where nobody opens
# a dialog (without it the dialogs end like Cancel).
set(CPACK_DEBIAN_DIALOGS_PACKAGE_NAME liblumorasdk${PROJECT_VERSION_MAJOR}-gtk)
set(CPACK_DEBIAN_DIALOGS_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DIALOGS_PACKAGE_DEPENDS "liblumorasdk${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DIALOGS_DESCRIPTION "Lumora camera SDK: settings dialogs (GTK 3) and their translations\n The camera, image and analog settings dialogs in English and Japanese.")
# The library's own package needs the shlibs entry for dependants' dpkg-shlibdeps.
set(CPACK_DEBIAN_LIB_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
