# SPDX-License-Identifier: MIT
# Warnings are errors everywhere.
function(torvic_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wshadow -Wconversion
                                           -Wno-sign-conversion)
endfunction()

# Test programs and the command-line tool: their compile time is most of the
# build, and neither needs the optimiser's last step nor debug information
# to be fast enough; the driver and the host video port keep the build's
# own flags. In the sanitizer build (Debug, -O1 for the driver and the host
# video port, whose loops the tests spend their time in) they are not
# optimised at all: with the sanitizers' checks, -O1 there added a minute
# to the build for six seconds less of tests.
function(torvic_quick_build target)
  target_compile_options(${target} PRIVATE -g0 $<$<CONFIG:RelWithDebInfo>:-O1> $<$<CONFIG:Debug>:-O0>)
endfunction()

# The host library, torvic-sim and the tests compile in batches of sources
# (unity builds): their files are short and share heavy headers (GoogleTest,
# nlohmann/json, the standard library), so parsing those once per batch
# rather than once per file saves most of their compile time. The lint
# configures with this OFF so that each source is still checked alone and a
# missing include cannot hide behind a neighbour's.
option(TORVIC_UNITY_BUILD "Compile the host library, torvic-sim and the tests in batches" ON)
function(torvic_unity_build target batch_size)
  if(TORVIC_UNITY_BUILD)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${batch_size})
  endif()
endfunction()
