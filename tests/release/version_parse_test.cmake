# Cases of the release version's parser (cmake/version.cmake), run with
#     cmake -P version_parse_test.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/version.cmake)

# text | expected major.minor.patch.tweak, or "error"
set(cases
    "1.0.0|1.0.0.0"
    "2.7.1.42|2.7.1.42"
    "0.0.0.0|0.0.0.0"
    "10.20.30|10.20.30.0"
    "65535.65535.65535.65535|65535.65535.65535.65535"
    "|error"
    "2|error"
    "2.7|error"
    "2.7.1.42.5|error"
    "2.7.1.|error"
    "2..7.1|error"
    ".2.7.1|error"
    "02.7.1|error"
    "2.7.1.042|error"
    "65536.0.0|error"
    "1.2.3.65536|error"
    "123456.0.0|error"
    "v2.7.1|error"
    "2.7.1-beta|error"
    "2.7.1 |error"
    "-1.2.3|error"
    "a.b.c|error")
set(failures 0)
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" fields "${case}")
    list(LENGTH fields count)
    if(count EQUAL 1)
        set(text "")
        list(GET fields 0 expected)
    else()
        list(GET fields 0 text)
        list(GET fields 1 expected)
    endif()
    unset(V_MAJOR)
    unset(V_ERROR)
    kyr_parse_version("${text}" V)
    if(V_ERROR)
        set(actual error)
    else()
        set(actual "${V_MAJOR}.${V_MINOR}.${V_PATCH}.${V_TWEAK}")
    endif()
    if(NOT actual STREQUAL expected)
        message("FAIL: \"${text}\" gave ${actual} (${V_ERROR}), expected ${expected}")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()
list(LENGTH cases total)
if(failures GREATER 0)
    message(FATAL_ERROR "${failures} of ${total} version texts parsed wrongly")
endif()
message("ok: ${total} version texts parsed as expected")
