# The release version of both programs and of the package.
#
# kyr_parse_version(TEXT PREFIX) reads a version "x.y.z" or "x.y.z.w" (each part a number from
# 0 to 65535, as a Windows version resource holds it, without leading zeros) and sets
# PREFIX_MAJOR, PREFIX_MINOR, PREFIX_PATCH and PREFIX_TWEAK (0 when absent) in the caller's
# scope, and PREFIX_ERROR to an empty text; for anything else PREFIX_ERROR says why.
function(kyr_parse_version text prefix)
    set(part "(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)")
    if(NOT text MATCHES "^${part}\\.${part}\\.${part}(\\.${part})?$")
        set(${prefix}_ERROR
            "expected x.y.z or x.y.z.w, each part a number from 0 to 65535 without leading zeros"
            PARENT_SCOPE)
        return()
    endif()
    set(parts ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3})
    if("${CMAKE_MATCH_5}" STREQUAL "")
        list(APPEND parts 0)
    else()
        list(APPEND parts ${CMAKE_MATCH_5})
    endif()
    foreach(number IN LISTS parts)
        if(number GREATER 65535)
            set(${prefix}_ERROR "the part ${number} is greater than 65535" PARENT_SCOPE)
            return()
        endif()
    endforeach()
    list(GET parts 0 major)
    list(GET parts 1 minor)
    list(GET parts 2 patch)
    list(GET parts 3 tweak)
    set(${prefix}_MAJOR ${major} PARENT_SCOPE)
    set(${prefix}_MINOR ${minor} PARENT_SCOPE)
    set(${prefix}_PATCH ${patch} PARENT_SCOPE)
    set(${prefix}_TWEAK ${tweak} PARENT_SCOPE)
    set(${prefix}_ERROR "" PARENT_SCOPE)
endfunction()

# Included by a script (a test of the parser): the function only.
if(CMAKE_SCRIPT_MODE_FILE)
    return()
endif()

# -DKYR_VERSION=2.7.1.42 sets the release's version; empty means the project's version. The
# result is KYR_VERSION_TEXT (the version as given, for the version strings and the package's
# file name) and KYR_VERSION_MAJOR, _MINOR, _PATCH, _TWEAK (the numeric fields).
set(KYR_VERSION "" CACHE STRING
    "Version of this release, x.y.z or x.y.z.w (empty: the project version)")
if(KYR_VERSION STREQUAL "")
    set(KYR_VERSION_TEXT ${PROJECT_VERSION})
else()
    set(KYR_VERSION_TEXT ${KYR_VERSION})
endif()
kyr_parse_version("${KYR_VERSION_TEXT}" KYR_VERSION)
if(KYR_VERSION_ERROR)
    message(FATAL_ERROR "KYR_VERSION \"${KYR_VERSION_TEXT}\" is not a version: "
                        "${KYR_VERSION_ERROR} (for example -DKYR_VERSION=2.7.1.42)")
endif()
message(STATUS "kyr-tools version ${KYR_VERSION_TEXT}")
