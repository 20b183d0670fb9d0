# SPDX-License-Identifier: MIT
# Cross toolchain for the NT kernel image: Debian's mingw-w64 compilers for
# 32-bit x86 Windows, with the DDK headers and import libraries they ship.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TORVIC_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TORVIC_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TORVIC_MINGW_PREFIX}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${TORVIC_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
