# Cross-builds for 64-bit Windows with clang and lld, against mingw-w64's
# headers and CRT and the libstdc++ of Debian's mingw g++ 12 (posix threads).
# A second, independent compiler keeps the code to portable C++ and Win32.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PIVRA_TARGET_TRIPLE x86_64-w64-mingw32)
set(PIVRA_GCC_DIR /usr/lib/gcc/${PIVRA_TARGET_TRIPLE}/12-posix)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${PIVRA_TARGET_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${PIVRA_TARGET_TRIPLE})
set(CMAKE_RC_COMPILER ${PIVRA_TARGET_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${PIVRA_TARGET_TRIPLE}-dlltool)
set(CMAKE_AR ${PIVRA_TARGET_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${PIVRA_TARGET_TRIPLE}-ranlib CACHE FILEPATH "")

set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${PIVRA_GCC_DIR}/include/c++ -isystem ${PIVRA_GCC_DIR}/include/c++/${PIVRA_TARGET_TRIPLE}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${PIVRA_GCC_DIR}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -L${PIVRA_GCC_DIR}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${PIVRA_GCC_DIR}")
# libstdc++'s std::thread needs winpthread, which clang's driver does not add.
set(CMAKE_CXX_STANDARD_LIBRARIES "-lpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${PIVRA_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
