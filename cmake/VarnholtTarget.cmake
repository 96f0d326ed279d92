# Compiler flags per target, so that a sanitizer or fuzzer build instruments
# exactly our own code and nothing configured after it by accident.
#   varnholt_target(<target> [FUZZED])
# FUZZED: the target's code is what the fuzzers explore (coverage feedback).
function(varnholt_target target)
    cmake_parse_arguments(ARG "FUZZED" "" "" ${ARGN})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        return()
    endif()
    if(VARNHOLT_WARNINGS)
        if(MSVC)
            target_compile_options(${target} PRIVATE /W4)
        else()
            target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                                     -Wconversion -Wno-sign-conversion)
        endif()
    endif()
    # Off by default: a newer compiler's new warning must not stop a user's
    # build; CI and ./scripts/test turn it on.
    if(VARNHOLT_WERROR)
        if(MSVC)
            target_compile_options(${target} PRIVATE /WX)
        else()
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
    if(VARNHOLT_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                                                 -fno-omit-frame-pointer -fno-sanitize-recover=all)
        # PUBLIC: whatever links a sanitized library needs the runtime too.
        target_link_options(${target} PUBLIC -fsanitize=address,undefined)
    endif()
    if(VARNHOLT_FUZZ AND ARG_FUZZED)
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
endfunction()
