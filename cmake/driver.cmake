# SPDX-License-Identifier: MIT
# The driver rooms: code that runs in the NT kernel, built freestanding.
function(torvic_driver_sources out)
  file(GLOB sources CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/miniport/*.cpp
    ${CMAKE_SOURCE_DIR}/discovery/*.cpp
    ${CMAKE_SOURCE_DIR}/hardware/*.cpp
    ${CMAKE_SOURCE_DIR}/modes/*.cpp
    ${CMAKE_SOURCE_DIR}/requests/*.cpp)
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

function(torvic_driver_options target)
  # The driver rooms by room name, and the public headers (include/torvic/) that
  # display drivers and the host tools share with the driver.
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include)
  # No hosted library, no exceptions, no RTTI, no static constructors, and no
  # floating-point registers, so floating point cannot creep in.
  target_compile_options(${target} PRIVATE
    -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-asynchronous-unwind-tables -mgeneral-regs-only
    -fvisibility=hidden -fno-stack-protector
    -Wall -Wextra -Werror -Wshadow -Wconversion -Wno-sign-conversion)
  target_link_options(${target} PRIVATE -nostdlib)
endfunction()
