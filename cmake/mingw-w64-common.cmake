# What both mingw-w64 tool chains share; included by mingw-w64-x86_64.cmake and
# mingw-w64-i686.cmake after they set CMAKE_SYSTEM_PROCESSOR and SYMVERT_MINGW_TRIPLE.
# The "-posix" compilers are taken (std::thread works with them); the runtime is linked
# statically, so symvert.exe needs no DLL beyond those of the system.
set(CMAKE_C_COMPILER ${SYMVERT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SYMVERT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SYMVERT_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SYMVERT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
