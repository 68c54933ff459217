# Cross-compiling to another Linux host with Debian's cross compilers (g++-<triplet>), the
# programs run under qemu-user. .ci/other-hosts sets ORVANE_CROSS_TRIPLET (s390x-linux-gnu,
# aarch64-linux-gnu), ORVANE_CROSS_PROCESSOR and ORVANE_CROSS_SYSROOT, a folder into which
# the target's zlib and GoogleTest packages were unpacked.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${ORVANE_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${ORVANE_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ORVANE_CROSS_TRIPLET}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${ORVANE_CROSS_PROCESSOR};-L;/usr/${ORVANE_CROSS_TRIPLET})

# Libraries and packages of the target come from the target's folders only; the
# header-only packages (Eigen, nlohmann-json) are the host's, named by their config folders.
set(CMAKE_FIND_ROOT_PATH /usr/${ORVANE_CROSS_TRIPLET} ${ORVANE_CROSS_SYSROOT})
set(CMAKE_LIBRARY_ARCHITECTURE ${ORVANE_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(Eigen3_DIR /usr/share/eigen3/cmake CACHE PATH "")
set(nlohmann_json_DIR /usr/share/cmake/nlohmann_json CACHE PATH "")
