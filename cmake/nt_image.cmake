# SPDX-License-Identifier: MIT
# The NT kernel image of the driver, torvic.sys, cross-built with the mingw-w64
# i686 toolchain against its DDK headers, and the checks that the image is what
# the NT loader and the video port take: a native image entered at
# DriverEntry, importing from videoprt.sys only, with the reset path resident,
# every other routine pageable, the timing records read-only and the whole
# driver within 1 KiB of stack.
#
# Outputs in bin/: torvic.sys (stripped, what gets installed),
# torvic-unstripped.sys (the same image with its symbol table), torvic.map
# and torvic-setup.img, the 1.44 MB setup floppy.

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# dderror.h sits beside miniport.h in the DDK directory but is included by
# its bare name.
find_path(TORVIC_DDK_DIR dderror.h PATH_SUFFIXES ddk REQUIRED)

# A kernel image links against nothing but the video port.
set(CMAKE_CXX_STANDARD_LIBRARIES "")

set(TORVIC_STACK_LIMIT 1024 CACHE STRING "Most stack bytes the driver's deepest call chain may use")

# ---- Objects ---------------------------------------------------------------------------
torvic_driver_sources(TORVIC_DRIVER_SOURCES)
add_library(torvic_nt_objects OBJECT ${TORVIC_DRIVER_SOURCES})
torvic_driver_options(torvic_nt_objects)
target_compile_definitions(torvic_nt_objects PRIVATE TORVIC_NT_BUILD)
target_include_directories(torvic_nt_objects SYSTEM PRIVATE ${TORVIC_DDK_DIR})
# -O2 whatever the build type: the checks judge the code that ships. The stack
# sizes and call graph (.su and .ci beside each object) feed the stack check.
target_compile_options(torvic_nt_objects PRIVATE -O2 -fstack-usage -fcallgraph-info=su)

# ---- The image -------------------------------------------------------------------------
set(TORVIC_NT_BIN ${CMAKE_BINARY_DIR}/bin)
add_library(torvic_image MODULE $<TARGET_OBJECTS:torvic_nt_objects>)
set_target_properties(torvic_image PROPERTIES
  PREFIX "" OUTPUT_NAME "torvic-unstripped" SUFFIX ".sys" LINKER_LANGUAGE CXX)
set(TORVIC_NT_LINK_OPTIONS
  -nostdlib -shared
  -Wl,--subsystem,native
  -Wl,--entry,_DriverEntry@8
  # No export table entries, and no data reached through imports: the kernel
  # has no runtime to patch such references.
  -Wl,--exclude-all-symbols
  -Wl,--disable-auto-import
  -Wl,--disable-runtime-pseudo-reloc)
target_link_options(torvic_image PRIVATE ${TORVIC_NT_LINK_OPTIONS}
  -Wl,-Map,${TORVIC_NT_BIN}/torvic.map)
target_link_libraries(torvic_image PRIVATE videoprt)

add_custom_command(
  OUTPUT ${TORVIC_NT_BIN}/torvic.sys
  COMMAND ${CMAKE_OBJCOPY} --strip-all $<TARGET_FILE:torvic_image> ${TORVIC_NT_BIN}/torvic.sys
  DEPENDS torvic_image
  COMMENT "Stripping torvic.sys"
  VERBATIM)

# ---- The checks: a failed check fails the build ----------------------------------------
set(TORVIC_NT_CHECKED ${CMAKE_CURRENT_BINARY_DIR}/torvic.sys.checked)
add_custom_command(
  OUTPUT ${TORVIC_NT_CHECKED}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/nt/check_image.py
          --objdump ${CMAKE_OBJDUMP}
          --image ${TORVIC_NT_BIN}/torvic.sys
          --symbols $<TARGET_FILE:torvic_image>
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/nt/check_stack.py
          --limit ${TORVIC_STACK_LIMIT}
          $<TARGET_OBJECTS:torvic_nt_objects>
  COMMAND ${CMAKE_COMMAND} -E touch ${TORVIC_NT_CHECKED}
  DEPENDS ${TORVIC_NT_BIN}/torvic.sys torvic_image
          ${CMAKE_SOURCE_DIR}/nt/check_image.py ${CMAKE_SOURCE_DIR}/nt/check_stack.py
  COMMENT "Checking torvic.sys"
  COMMAND_EXPAND_LISTS
  VERBATIM)
add_custom_target(torvic_sys ALL DEPENDS ${TORVIC_NT_CHECKED})

# ---- The setup floppy ------------------------------------------------------------------
# torvic.sys, once checked, with both install files and a short README, on a
# 1.44 MB FAT image written by mtools, without root or a loop mount. Names are
# upper-case 8.3, as the setup programs look for them; the text files get DOS
# line ends.
find_program(TORVIC_MFORMAT mformat REQUIRED)
find_program(TORVIC_MCOPY mcopy REQUIRED)
set(TORVIC_SETUP_IMAGE ${TORVIC_NT_BIN}/torvic-setup.img)
set(TORVIC_SETUP_TEXTS)
foreach(text oemsetup.inf torvic.inf README.TXT)
  string(TOUPPER ${text} name)
  configure_file(${CMAKE_SOURCE_DIR}/nt/${text} ${CMAKE_BINARY_DIR}/floppy/${name}
                 @ONLY NEWLINE_STYLE CRLF)
  list(APPEND TORVIC_SETUP_TEXTS ${CMAKE_BINARY_DIR}/floppy/${name})
endforeach()
add_custom_command(
  OUTPUT ${TORVIC_SETUP_IMAGE}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${TORVIC_SETUP_IMAGE}.new
  COMMAND ${CMAKE_COMMAND} -E env MTOOLS_SKIP_CHECK=1
          ${TORVIC_MFORMAT} -C -f 1440 -v TORVIC -N 7E5E0404 -i ${TORVIC_SETUP_IMAGE}.new ::
  COMMAND ${TORVIC_MCOPY} -i ${TORVIC_SETUP_IMAGE}.new ${TORVIC_NT_BIN}/torvic.sys ::TORVIC.SYS
  COMMAND ${TORVIC_MCOPY} -i ${TORVIC_SETUP_IMAGE}.new ${TORVIC_SETUP_TEXTS} ::
  COMMAND ${CMAKE_COMMAND} -E rename ${TORVIC_SETUP_IMAGE}.new ${TORVIC_SETUP_IMAGE}
  DEPENDS ${TORVIC_NT_CHECKED} ${TORVIC_NT_BIN}/torvic.sys ${TORVIC_SETUP_TEXTS}
  COMMENT "Writing the setup floppy torvic-setup.img"
  VERBATIM)
add_custom_target(torvic_setup_floppy ALL DEPENDS ${TORVIC_SETUP_IMAGE})

# ---- A faulty image for the suite's residency check ------------------------------------
# The same driver with the DAC and memory-clock routines, which the reset
# path calls, moved from .text into PAGE: the 32-bit suite runs the reset
# callback on it and must see the run stop. Never checked, never shipped.
set(TORVIC_NT_TEST_IMAGES ${CMAKE_BINARY_DIR}/test-images)
set(TORVIC_DAC_PAGED_OBJ ${TORVIC_NT_TEST_IMAGES}/dac-in-page.obj)
set(torvic_dac_obj "$<FILTER:$<TARGET_OBJECTS:torvic_nt_objects>,INCLUDE,/dac\\.cpp\\.obj$>")
add_custom_command(
  OUTPUT ${TORVIC_DAC_PAGED_OBJ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TORVIC_NT_TEST_IMAGES}
  COMMAND ${CMAKE_OBJCOPY} --rename-section .text=PAGE ${torvic_dac_obj} ${TORVIC_DAC_PAGED_OBJ}
  DEPENDS torvic_nt_objects ${torvic_dac_obj}
  COMMENT "Moving the DAC routines into PAGE for the residency check's faulty image"
  VERBATIM)
add_library(torvic_dac_paged MODULE
  "$<FILTER:$<TARGET_OBJECTS:torvic_nt_objects>,EXCLUDE,/dac\\.cpp\\.obj$>"
  ${TORVIC_DAC_PAGED_OBJ})
set_source_files_properties(${TORVIC_DAC_PAGED_OBJ} PROPERTIES EXTERNAL_OBJECT ON GENERATED ON)
set_target_properties(torvic_dac_paged PROPERTIES
  PREFIX "" OUTPUT_NAME "torvic-dac-paged" SUFFIX ".sys" LINKER_LANGUAGE CXX
  LIBRARY_OUTPUT_DIRECTORY ${TORVIC_NT_TEST_IMAGES})
target_link_options(torvic_dac_paged PRIVATE ${TORVIC_NT_LINK_OPTIONS})
target_link_libraries(torvic_dac_paged PRIVATE videoprt)
