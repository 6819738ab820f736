# Cross-building for 64-bit Windows with Debian's mingw-w64 (GCC, posix threads for std::thread):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTALKGATE_BUILD_GUI=OFF ...
# Programs are linked statically, so they need no DLL of the compiler's at run time.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TALKGATE_MINGW_PREFIX x86_64-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${TALKGATE_MINGW_PREFIX}-gcc-posix ${TALKGATE_MINGW_PREFIX}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${TALKGATE_MINGW_PREFIX}-g++-posix ${TALKGATE_MINGW_PREFIX}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${TALKGATE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TALKGATE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Tests and examples run under wine when it is there.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(TALKGATE_WINE NAMES wine wine64)
  if(TALKGATE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TALKGATE_WINE})
    # Wine shows the build machine's / as drive Z:.
    set(TALKGATE_HOST_ROOT "Z:" CACHE STRING "")
  endif()
endif()

# GCC 12 at -O3 warns of overlapping copies inside std::string's own appends (GCC bug 105651),
# which -Werror would turn into errors in correct code.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
