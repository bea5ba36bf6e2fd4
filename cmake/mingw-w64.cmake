# Cross tool chain for the Windows build: mingw-w64 (its POSIX thread model,
# which std::thread needs), the libraries that scripts/bootstrap-windows
# builds into build/windows-deps/prefix, and Wine to run what it makes.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUENMOR_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUENMOR_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUENMOR_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QUENMOR_MINGW}-windres)

get_filename_component(QUENMOR_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(QUENMOR_WINDOWS_DEPS "${QUENMOR_SOURCE_ROOT}/build/windows-deps/prefix"
    CACHE PATH "Libraries built for Windows by scripts/bootstrap-windows")
set(CMAKE_FIND_ROOT_PATH /usr/${QUENMOR_MINGW} ${QUENMOR_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs and tests run through Wine, in the build's own Wine prefix.
find_program(QUENMOR_WINE NAMES wine wine64)
if(QUENMOR_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUENMOR_SOURCE_ROOT}/cmake/wine-run)
endif()
