# Compiler-specific settings of the project, kept in this one file.
if(MINGW)
    # Static C++ runtime: the programs import only system libraries.
    add_link_options(-static -static-libgcc -static-libstdc++)
    # Release programs carry no symbols: less than half the size, and a start measurably
    # quicker (the launcher's own start-up is mostly mapping its image).
    add_link_options($<$<CONFIG:Release>:-s>)
    add_compile_options(-Wall -Wextra -Wno-unused-parameter)
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
