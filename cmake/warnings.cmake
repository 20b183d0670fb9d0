# SPDX-License-Identifier: MIT
# Warnings are errors everywhere.
function(torvic_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wshadow -Wconversion
                                           -Wno-sign-conversion)
endfunction()

# Test programs and the command-line tool: their compile time is most of the
# build, and neither needs the optimiser's last step nor debug information
# to be fast enough; the driver and the host video port keep the build's
# own flags.
function(torvic_quick_build target)
  target_compile_options(${target} PRIVATE -g0 $<$<CONFIG:RelWithDebInfo>:-O1>)
endfunction()
