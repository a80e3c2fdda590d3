# SHA256SUMS: the SHA-256 of each published file, in the format `sha256sum -c` reads, in the
# folder of the files, so that a download can be checked with
#     sha256sum -c SHA256SUMS
#
# kyr_write_sha256sums(SUMS_FILE FILE...) writes or updates SUMS_FILE with a line for each
# FILE, which lies in the folder of SUMS_FILE or below it. Lines of other files already listed
# are kept while those files exist, so several steps (the package, a test kit) can publish into
# one folder; the lines are sorted by file name.
#
# Usable from a build step without including this file:
#     cmake -P cmake/sha256sums.cmake -- SUMS_FILE FILE...
if(CMAKE_SCRIPT_MODE_FILE)
    cmake_policy(VERSION 3.20)
endif()

function(kyr_write_sha256sums sums_file)
    get_filename_component(sums_file "${sums_file}" ABSOLUTE)
    get_filename_component(folder "${sums_file}" DIRECTORY)
    set(entries "")
    set(names "")
    foreach(file IN LISTS ARGN)
        get_filename_component(file "${file}" ABSOLUTE)
        if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
            message(FATAL_ERROR "SHA256SUMS: ${file} is not a file")
        endif()
        file(RELATIVE_PATH name "${folder}" "${file}")
        if(name MATCHES "^\\.\\./")
            message(FATAL_ERROR "SHA256SUMS: ${file} is not in ${folder}")
        endif()
        file(SHA256 "${file}" hash)
        list(APPEND names "${name}")
        list(APPEND entries "${name}\t${hash}")
    endforeach()
    if(EXISTS "${sums_file}")
        file(STRINGS "${sums_file}" lines)
        foreach(line IN LISTS lines)
            # "<hash>  <name>", or "<hash> *<name>" for a file read in binary mode.
            if(line MATCHES "^([0-9a-f]+) [ *](.+)$")
                set(hash ${CMAKE_MATCH_1})
                set(name ${CMAKE_MATCH_2})
                if(NOT name IN_LIST names AND EXISTS "${folder}/${name}")
                    list(APPEND names "${name}")
                    list(APPEND entries "${name}\t${hash}")
                endif()
            endif()
        endforeach()
    endif()
    list(SORT entries)
    set(text "")
    foreach(entry IN LISTS entries)
        string(REGEX MATCH "^(.*)\t(.*)$" ignored "${entry}")
        string(APPEND text "${CMAKE_MATCH_2}  ${CMAKE_MATCH_1}\n")
    endforeach()
    file(WRITE "${sums_file}" "${text}")
endfunction()

# kyr_script_arguments(out): in a script run with cmake -P, the arguments after "--".
function(kyr_script_arguments out)
    set(arguments "")
    set(seen_separator FALSE)
    math(EXPR last "${CMAKE_ARGC} - 1")
    foreach(index RANGE 1 ${last})
        if(seen_separator)
            list(APPEND arguments "${CMAKE_ARGV${index}}")
        elseif(CMAKE_ARGV${index} STREQUAL "--")
            set(seen_separator TRUE)
        endif()
    endforeach()
    set(${out} "${arguments}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    kyr_script_arguments(arguments)
    list(LENGTH arguments count)
    if(count LESS 2)
        message(FATAL_ERROR "usage: cmake -P sha256sums.cmake -- SUMS_FILE FILE...")
    endif()
    list(POP_FRONT arguments sums_file)
    kyr_write_sha256sums("${sums_file}" ${arguments})
endif()
