# The package: the two programs and the operators' guide, flat in one zip file,
# kyr-tools-<version>-win32.zip (win64 for the 64-bit test build). Only these three files
# have install rules; test programs and fixtures have none.
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
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kyr-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Update installer and console launcher of the server")
set(KYR_PACKAGE_FILE_NAME kyr-tools-${PROJECT_VERSION}-${KYR_PACKAGE_PLATFORM})
set(CPACK_PACKAGE_FILE_NAME ${KYR_PACKAGE_FILE_NAME})
# The files go straight into the application directory: no folder around them.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)

# Builds the package from this build and checks its exact list of files (on the build
# machine). It needs the programs built, as cpack does.
add_test(NAME Package.contents
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/resources/check_package.sh
                 ${CMAKE_CPACK_COMMAND} ${PROJECT_BINARY_DIR}/CPackConfig.cmake
                 ${PROJECT_BINARY_DIR}/package-check ${KYR_PACKAGE_FILE_NAME}.zip
                 OPERATORS.txt kyrServer.com kyrUpdater.exe)
set_tests_properties(Package.contents PROPERTIES LABELS host)
