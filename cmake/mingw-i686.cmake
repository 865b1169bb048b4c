# Cross build for i686 Windows with Debian's mingw-w64: the shipped setup.exe.
# The win32 thread model: the program has one thread and needs no pthreads emulation, which
# the posix model's runtime would link in (about 30 KB). GoogleTest, which needs std::mutex
# and so the posix model, is built only by the x86_64 toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER  ${MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
