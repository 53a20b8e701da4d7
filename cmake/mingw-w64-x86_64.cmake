# Cross toolchain for the 64-bit build of the Windows program (MinGW-w64,
# posix threads): the same sources, run under 64-bit Wine on hosts that
# execute no 32-bit code. The shipped program stays the 32-bit one.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZRT_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
