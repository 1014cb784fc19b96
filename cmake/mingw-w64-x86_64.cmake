# Cross-compiling lodgate.exe for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64). Use with
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LODGATE_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex, which GCC 12's win32
# model lacks. Its winpthread is linked statically like the runtimes.
set(CMAKE_C_COMPILER ${LODGATE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LODGATE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LODGATE_MINGW_TRIPLET}-windres)

# Headers and libraries come from the MinGW tree only; programs that run
# during the build are the build machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/${LODGATE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and gtest_discover_tests run the test programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
