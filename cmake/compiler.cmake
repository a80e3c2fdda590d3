# Compiler-specific settings of the project, kept in this one file.
if(MINGW)
    # Static C++ runtime: the programs import only system libraries.
    add_link_options(-static -static-libgcc -static-libstdc++)
    # Release programs carry no symbols: less than half the size, and a start measurably
    # quicker (the launcher's own start-up is mostly mapping its image).
    add_link_options($<$<CONFIG:Release>:-s>)
    add_compile_options(-Wall -Wextra -Wno-unused-parameter)
    # Reproducible programs: the same source gives the same bytes wherever and whenever it is
    # built. No link time in the PE header, and file names in the code (__FILE__, assertion
    # texts, debug information) relative to the source or build folder. The build folder
    # comes last: GCC tries the last mapping first, and it may lie inside the source folder.
    add_link_options(-Wl,--no-insert-timestamp)
    add_compile_options(
        "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>"
        "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>")
    # Wide entry points (wmain, wWinMain).
    set(KYR_UNICODE_ENTRY_FLAG -municode)
    add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
elseif(MSVC)
    add_compile_options(/W4 /EHsc /utf-8)
    set(KYR_UNICODE_ENTRY_FLAG "")
    add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()

# kyr_unicode_entry(target): the target's entry point is wmain or wWinMain.
function(kyr_unicode_entry target)
    if(KYR_UNICODE_ENTRY_FLAG)
        target_link_options(${target} PRIVATE ${KYR_UNICODE_ENTRY_FLAG})
    endif()
endfunction()

# kyr_program_warnings(target): the shipped programs' own code builds without a warning; CI
# turns the warnings into errors (-DKYR_WARNINGS_AS_ERRORS=ON), a developer's build keeps
# them as warnings.
option(KYR_WARNINGS_AS_ERRORS "Treat warnings in the programs' own code as errors" OFF)
function(kyr_program_warnings target)
    if(NOT KYR_WARNINGS_AS_ERRORS)
        return()
    endif()
    if(MSVC)
        target_compile_options(${target} PRIVATE /WX)
    else()
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
