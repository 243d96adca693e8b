# Cross-builds the 64-bit Windows form with Debian's mingw-w64 (POSIX thread model, so
# std::thread and std::mutex work) and runs its programs under Wine.
#
# The codecs come from a folder of cross-built static libraries (scripts/windows-deps makes it):
# LUMORA_WINDOWS_DEPS in the environment or the cache, else the last folder the script built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMORA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMORA_MINGW_TRIPLE}-windres)
find_program(CMAKE_AR ${LUMORA_MINGW_TRIPLE}-ar REQUIRED)
find_program(CMAKE_RANLIB ${LUMORA_MINGW_TRIPLE}-ranlib REQUIRED)
find_program(CMAKE_DLLTOOL ${LUMORA_MINGW_TRIPLE}-dlltool REQUIRED)

if(DEFINED ENV{LUMORA_WINDOWS_DEPS} AND NOT "$ENV{LUMORA_WINDOWS_DEPS}" STREQUAL "")
  set(LUMORA_WINDOWS_DEPS "$ENV{LUMORA_WINDOWS_DEPS}")
elseif(NOT LUMORA_WINDOWS_DEPS)
  if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(LUMORA_WINDOWS_DEPS "$ENV{XDG_CACHE_HOME}/lumora/windows-deps/latest")
  else()
    set(LUMORA_WINDOWS_DEPS "$ENV{HOME}/.cache/lumora/windows-deps/latest")
  endif()
endif()
# try_compile projects read this file again; they must see the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LUMORA_WINDOWS_DEPS)

# Headers and libraries only from the cross sysroot and the codec folder, never the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${LUMORA_MINGW_TRIPLE} ${LUMORA_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config would otherwise answer with the host's .pc files (libusb, X11, GTK) and their
# -I/usr/include, and the build would mix Linux headers into Windows objects.
set(ENV{PKG_CONFIG_LIBDIR} "${LUMORA_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Test programs and anything CMake runs at build time go through Wine (64-bit only).
find_program(LUMORA_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(LUMORA_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMORA_WINE64})
endif()
