# SPDX-License-Identifier: MIT
# How the 32-bit build's test programs run. Where the kernel executes i386
# programs they run as they are; where it does not (containers and VMs built
# without 32-bit emulation), they run under the user-mode emulator qemu-i386
# from Debian's qemu-user package. The choice comes from running a small i386
# program here, once per build folder; -DTORVIC_I386_EMULATOR=ON forces the
# emulator on a machine that needs none, to check that path.

if(NOT DEFINED TORVIC_I386_EMULATOR)
  try_run(torvic_i386_probe_ran torvic_i386_probe_built
          ${CMAKE_BINARY_DIR}/i386_probe ${CMAKE_SOURCE_DIR}/cmake/probe/i386_probe.cpp
          COMPILE_OUTPUT_VARIABLE torvic_i386_probe_log)
  if(NOT torvic_i386_probe_built)
    message(FATAL_ERROR "cannot build an i386 program with ${CMAKE_CXX_COMPILER} "
                        "${CMAKE_CXX_FLAGS} (is g++-multilib installed?):\n${torvic_i386_probe_log}")
  endif()
  if(torvic_i386_probe_ran STREQUAL "0")
    set(torvic_needs_emulator OFF)
  else()
    set(torvic_needs_emulator ON)
  endif()
  set(TORVIC_I386_EMULATOR ${torvic_needs_emulator} CACHE BOOL
      "Run the 32-bit test programs under qemu-i386 (set by a configure-time probe)")
endif()

if(TORVIC_I386_EMULATOR)
  find_program(TORVIC_QEMU_I386 qemu-i386)
  if(NOT TORVIC_QEMU_I386)
    message(FATAL_ERROR "TORVIC_I386_EMULATOR is ON but qemu-i386 is missing: install "
                        "Debian's qemu-user (scripts/setup.sh does where the kernel needs it)")
  endif()
  # gtest_discover_tests and add_test both run test programs through it.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TORVIC_QEMU_I386})
  message(STATUS "32-bit tests run under ${TORVIC_QEMU_I386} (TORVIC_I386_EMULATOR=ON)")
else()
  message(STATUS "32-bit tests run natively (TORVIC_I386_EMULATOR=OFF)")
endif()
