# The package: kyr-tools-<version>-win32.zip (win64 for the 64-bit test build) in the build
# folder, the two programs and the operators' guide flat in one zip file, and SHA256SUMS beside
# it. `cmake --build <build> --target package` makes both (cmake/make_package.cmake); the zip
# has the same bytes for the same source, whoever builds it and when.
#
# Signing: -DKYR_SIGN_PKCS12=<certificate.p12> -DKYR_SIGN_PASSWORD_FILE=<file> and optionally
# -DKYR_SIGN_TIMESTAMP_URL=<url> (an RFC 3161 time-stamp server) make the package target sign
# both programs (Authenticode, SHA-256) before they are zipped. Only the password file's path is
# stored; the password itself stays in that file.
#
# Only the three packaged files have install rules; test programs and fixtures have none.
install(TARGETS kyrUpdater RUNTIME DESTINATION .)
if(TARGET kyrServer)
    install(TARGETS kyrServer RUNTIME DESTINATION .)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/docs/OPERATORS.txt DESTINATION .)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(KYR_PACKAGE_PLATFORM win32)
else()
    set(KYR_PACKAGE_PLATFORM win64)
endif()
set(KYR_PACKAGE_FILE_NAME kyr-tools-${KYR_VERSION_TEXT}-${KYR_PACKAGE_PLATFORM})

set(KYR_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file (certificate and private key) that signs the packaged programs; empty: unsigned")
set(KYR_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File whose first line is the password of KYR_SIGN_PKCS12 (only this path is stored)")
set(KYR_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamp server for the signatures (optional)")
if(DEFINED KYR_SIGN_PASSWORD OR DEFINED CACHE{KYR_SIGN_PASSWORD})
    unset(KYR_SIGN_PASSWORD CACHE)
    message(FATAL_ERROR "KYR_SIGN_PASSWORD is not an option: a password given to cmake would "
                        "be stored in the cache and seen on the command line. Put it in a file "
                        "readable only by you and give -DKYR_SIGN_PASSWORD_FILE=<file>.")
endif()
set(KYR_OSSLSIGNCODE "")
if(KYR_SIGN_PKCS12)
    if(NOT EXISTS "${KYR_SIGN_PKCS12}")
        message(FATAL_ERROR "KYR_SIGN_PKCS12: ${KYR_SIGN_PKCS12} does not exist")
    endif()
    if(NOT KYR_SIGN_PASSWORD_FILE OR NOT EXISTS "${KYR_SIGN_PASSWORD_FILE}")
        message(FATAL_ERROR "KYR_SIGN_PKCS12 needs KYR_SIGN_PASSWORD_FILE, a file whose first "
                            "line is the certificate's password (now \"${KYR_SIGN_PASSWORD_FILE}\")")
    endif()
    find_program(KYR_OSSLSIGNCODE_PROGRAM osslsigncode)
    if(NOT KYR_OSSLSIGNCODE_PROGRAM)
        message(FATAL_ERROR "osslsigncode not found: scripts/setup.sh installs it")
    endif()
    set(KYR_OSSLSIGNCODE ${KYR_OSSLSIGNCODE_PROGRAM})
    message(STATUS "package: programs signed with ${KYR_SIGN_PKCS12}")
endif()
find_program(KYR_ZIP_PROGRAM zip)
find_package(Git QUIET)

# The packaging command without its output folder and signing options, and the packaged files
# in the order they are stored (also used by the package's tests).
set(KYR_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/make_package.cmake)
set(KYR_PACKAGE_TOOLS -DKYR_ZIP=${KYR_ZIP_PROGRAM} -DKYR_GIT=${GIT_EXECUTABLE}
                      -DKYR_SOURCE_DIR=${PROJECT_SOURCE_DIR})
set(KYR_PACKAGE_FILES ${PROJECT_SOURCE_DIR}/docs/OPERATORS.txt)
if(TARGET kyrServer)
    list(APPEND KYR_PACKAGE_FILES $<TARGET_FILE:kyrServer>)
endif()
list(APPEND KYR_PACKAGE_FILES $<TARGET_FILE:kyrUpdater>)

set(signing "")
if(KYR_SIGN_PKCS12)
    set(signing -DKYR_SIGN_PKCS12=${KYR_SIGN_PKCS12}
                -DKYR_SIGN_PASSWORD_FILE=${KYR_SIGN_PASSWORD_FILE}
                -DKYR_SIGN_TIMESTAMP_URL=${KYR_SIGN_TIMESTAMP_URL}
                -DKYR_OSSLSIGNCODE=${KYR_OSSLSIGNCODE})
endif()
# A build folder that CPack once configured keeps its CPackConfig.cmake, and CMake then
# reserves the name "package" for CPack: those files are left over from before.
file(REMOVE ${PROJECT_BINARY_DIR}/CPackConfig.cmake ${PROJECT_BINARY_DIR}/CPackSourceConfig.cmake)
add_custom_target(package
    COMMAND ${CMAKE_COMMAND} -DKYR_PACKAGE_DIR=${PROJECT_BINARY_DIR}
            -DKYR_PACKAGE_NAME=${KYR_PACKAGE_FILE_NAME} ${KYR_PACKAGE_TOOLS} ${signing}
            -P ${KYR_PACKAGE_SCRIPT} -- ${KYR_PACKAGE_FILES}
    COMMENT "Packaging ${KYR_PACKAGE_FILE_NAME}.zip"
    VERBATIM)
add_dependencies(package kyrUpdater)
if(TARGET kyrServer)
    add_dependencies(package kyrServer)
endif()

# Makes the package of this build in a scratch folder and checks its exact list of files and
# its SHA256SUMS (on the build machine). It needs the programs built, as the package does.
add_test(NAME Package.contents
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/resources/check_package.sh
                 ${PROJECT_BINARY_DIR}/package-check ${KYR_PACKAGE_FILE_NAME}.zip
                 OPERATORS.txt kyrServer.com kyrUpdater.exe
                 -- ${CMAKE_COMMAND} -DKYR_PACKAGE_DIR=${PROJECT_BINARY_DIR}/package-check
                 -DKYR_PACKAGE_NAME=${KYR_PACKAGE_FILE_NAME} ${KYR_PACKAGE_TOOLS}
                 -P ${KYR_PACKAGE_SCRIPT} -- ${KYR_PACKAGE_FILES})
set_tests_properties(Package.contents PROPERTIES LABELS host)
