# The test kit: the whole suite for a Windows machine, with nothing to install there.
#   cmake --build <build> --target test-kit
# writes kyr-tools-<version>-<win32|win64>-tests.zip into the build folder: one folder that
# holds every test program, the programs and fixtures they run (laid out as in bin/, where
# the tests look for them beside themselves) and run-tests.cmd, which runs every suite.
#
# SHA256SUMS in the build folder gets the kit's line beside the package's
# (cmake/sha256sums.cmake).
#
# Included by the project (configure time), and run by the target as a script (build time)
# to stage the folder and pack it.

if(NOT CMAKE_SCRIPT_MODE_FILE)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(kit_platform win32)
    else()
        set(kit_platform win64)
    endif()
    set(kit_name kyr-tools-${KYR_VERSION_TEXT}-${kit_platform}-tests)

    # Every test program, and every target it depends on: the programs under test and the
    # fixtures, also through custom targets that only group others (coreLibraries).
    get_property(kit_suites GLOBAL PROPERTY KYR_TEST_PROGRAMS)
    set(kit_targets)
    set(kit_files)
    set(pending ${kit_suites})
    while(pending)
        list(POP_FRONT pending target)
        if(target IN_LIST kit_targets OR NOT TARGET ${target})
            continue()
        endif()
        list(APPEND kit_targets ${target})
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "EXECUTABLE" OR type STREQUAL "MODULE_LIBRARY"
           OR type STREQUAL "SHARED_LIBRARY")
            list(APPEND kit_files "$<TARGET_FILE:${target}>")
        endif()
        get_target_property(dependencies ${target} MANUALLY_ADDED_DEPENDENCIES)
        if(dependencies)
            list(APPEND pending ${dependencies})
        endif()
    endwhile()

    set(kit_list ${CMAKE_BINARY_DIR}/test-kit/files-$<CONFIG>.txt)
    list(JOIN kit_files "\n" kit_lines)
    file(GENERATE OUTPUT ${kit_list} CONTENT "${kit_lines}\n")
    list(JOIN kit_suites " " kit_suite_words)

    add_custom_target(test-kit
        COMMAND ${CMAKE_COMMAND}
                "-DKIT_NAME=${kit_name}"
                "-DKIT_PLATFORM=${kit_platform}"
                "-DKIT_VERSION=${KYR_VERSION_TEXT}"
                "-DKIT_SUITES=${kit_suite_words}"
                "-DKIT_FILES=${kit_list}"
                "-DKIT_BIN=${CMAKE_BINARY_DIR}/bin"
                "-DKIT_SCRIPT=${PROJECT_SOURCE_DIR}/tests/kit/run-tests.cmd.in"
                "-DKIT_STAGE=${CMAKE_BINARY_DIR}/test-kit"
                "-DKIT_ZIP=${CMAKE_BINARY_DIR}/${kit_name}.zip"
                -P ${CMAKE_CURRENT_LIST_FILE}
        BYPRODUCTS ${CMAKE_BINARY_DIR}/${kit_name}.zip ${CMAKE_BINARY_DIR}/SHA256SUMS
        COMMENT "Test kit ${kit_name}.zip"
        VERBATIM)
    add_dependencies(test-kit ${kit_targets})

    # On the build machine: no file of the kit imports what Windows 7 SP1 lacks.
    add_test(NAME TestKit.importsAvailableOnWindows7
             COMMAND bash ${PROJECT_SOURCE_DIR}/tests/kit/check_imports.sh ${CMAKE_OBJDUMP}
                     ${kit_list})
    set_tests_properties(TestKit.importsAvailableOnWindows7 PROPERTIES LABELS host)
    return()
endif()

# Build time: stage KIT_STAGE/KIT_NAME and pack it into KIT_ZIP.
set(folder ${KIT_STAGE}/${KIT_NAME})
file(REMOVE_RECURSE ${folder})
file(MAKE_DIRECTORY ${folder})
file(STRINGS ${KIT_FILES} files)
foreach(file IN LISTS files)
    file(RELATIVE_PATH relative ${KIT_BIN} ${file})
    if(relative MATCHES "^\\.\\.")
        message(FATAL_ERROR "test kit: ${file} is not below ${KIT_BIN}")
    endif()
    get_filename_component(subfolder ${relative} DIRECTORY)
    file(COPY ${file} DESTINATION ${folder}/${subfolder})
endforeach()

# run-tests.cmd: ASCII (cmd reads a batch file in the OEM code page) with CR LF line ends.
file(READ ${KIT_SCRIPT} script)
if(NOT script MATCHES "^[\t\n\r -~]*$")
    message(FATAL_ERROR "test kit: ${KIT_SCRIPT} must be plain ASCII")
endif()
string(CONFIGURE "${script}" script @ONLY)
string(REPLACE "\r\n" "\n" script "${script}")
string(REPLACE "\n" "\r\n" script "${script}")
file(WRITE ${folder}/run-tests.cmd "${script}")

file(REMOVE ${KIT_ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${KIT_ZIP} --format=zip ${KIT_NAME}
                WORKING_DIRECTORY ${KIT_STAGE}
                RESULT_VARIABLE packed)
if(NOT packed EQUAL 0)
    message(FATAL_ERROR "test kit: packing ${KIT_ZIP} failed")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/sha256sums.cmake)
get_filename_component(published ${KIT_ZIP} DIRECTORY)
kyr_write_sha256sums(${published}/SHA256SUMS ${KIT_ZIP})
