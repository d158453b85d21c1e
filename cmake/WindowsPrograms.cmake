# Small Windows programs built with Debian's MinGW-w64 cross compilers. Kestrin runs them under Wine;
# they are data to the Linux build, so a missing cross compiler only leaves them out, with a warning.
find_program(KESTRIN_MINGW_WIN64_CC NAMES x86_64-w64-mingw32-gcc)
find_program(KESTRIN_MINGW_WIN32_CC NAMES i686-w64-mingw32-gcc)

# kestrin_add_windows_program(<target> ARCH win64|win32 SOURCE <file.c> OUTPUT <path.exe>)
# Adds <target>, built with ALL, producing <path.exe>. Sets <target>_BUILT in the caller when it was added.
function(kestrin_add_windows_program target)
    cmake_parse_arguments(ARG "" "ARCH;SOURCE;OUTPUT" "" ${ARGN})
    if(ARG_ARCH STREQUAL "win64")
        set(cc ${KESTRIN_MINGW_WIN64_CC})
    else()
        set(cc ${KESTRIN_MINGW_WIN32_CC})
    endif()
    if(NOT cc)
        message(WARNING "No MinGW-w64 compiler for ${ARG_ARCH}: ${target} is not built "
                        "(install gcc-mingw-w64-x86-64 and gcc-mingw-w64-i686)")
        set(${target}_BUILT FALSE PARENT_SCOPE)
        return()
    endif()
    get_filename_component(out_dir ${ARG_OUTPUT} DIRECTORY)
    add_custom_command(OUTPUT ${ARG_OUTPUT}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
        COMMAND ${cc} -std=c99 -O2 -s -Wall -Wextra -Wpedantic -Werror -o ${ARG_OUTPUT} ${ARG_SOURCE}
        DEPENDS ${ARG_SOURCE}
        COMMENT "Building Windows program ${ARG_OUTPUT}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${ARG_OUTPUT})
    set(${target}_BUILT TRUE PARENT_SCOPE)
endfunction()
