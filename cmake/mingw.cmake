# Cross build for Windows with Debian's MinGW-w64; the preset names the processor (i686 for the
# 32-bit setup, x86_64 for the 64-bit one) in SETUP_MINGW_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${SETUP_MINGW_PROCESSOR})
# Compiler checks configure projects of their own; they need the processor too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SETUP_MINGW_PROCESSOR)
set(triplet ${SETUP_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${triplet}-gcc)
set(CMAKE_CXX_COMPILER ${triplet}-g++)
set(CMAKE_RC_COMPILER ${triplet}-windres)
# The setup is built with link-time optimisation: archives need the LTO-aware tools.
set(CMAKE_AR ${triplet}-gcc-ar)
set(CMAKE_RANLIB ${triplet}-gcc-ranlib)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
