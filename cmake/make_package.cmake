# Makes the package, run by the `package` target (cmake/package.cmake):
#     cmake -DKYR_PACKAGE_DIR=<folder> -DKYR_PACKAGE_NAME=<name> -DKYR_ZIP=<zip program>
#           [-DKYR_SOURCE_DIR=<folder> -DKYR_GIT=<git>]
#           [-DKYR_SIGN_PKCS12=<file.p12> -DKYR_SIGN_PASSWORD_FILE=<file>
#            -DKYR_SIGN_TIMESTAMP_URL=<url> -DKYR_OSSLSIGNCODE=<osslsigncode>]
#           -P make_package.cmake -- FILE...
#
# 1. The files are copied into <folder>/package-stage.
# 2. With a certificate, the programs among them (.exe, .com, .dll) are Authenticode-signed
#    (SHA-256). The password is read by osslsigncode from its file, never given on a command
#    line.
# 3. <folder>/<name>.zip is written with the files flat, in the order given, each with the
#    same time and permissions (rw-r--r--) whoever builds it, and without the extra fields
#    (owner, access and change times) that would differ between builds. The time is
#    SOURCE_DATE_EPOCH when set, else the time of the source's last commit, else 2000-01-01.
# 4. SHA256SUMS beside the zip lists it (cmake/sha256sums.cmake).
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/sha256sums.cmake)

kyr_script_arguments(files)
if(NOT KYR_PACKAGE_DIR OR NOT KYR_PACKAGE_NAME OR NOT files)
    message(FATAL_ERROR "usage: cmake -DKYR_PACKAGE_DIR=<folder> -DKYR_PACKAGE_NAME=<name> "
                        "-DKYR_ZIP=<zip> -P make_package.cmake -- FILE...")
endif()
if(NOT KYR_ZIP)
    message(FATAL_ERROR "package: the zip program was not found (scripts/setup.sh installs it)")
endif()

# 1. The files as they will be packaged.
set(stage ${KYR_PACKAGE_DIR}/package-stage)
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage})
set(names "")
foreach(file IN LISTS files)
    get_filename_component(name "${file}" NAME)
    if(name IN_LIST names)
        message(FATAL_ERROR "package: two files named ${name}")
    endif()
    list(APPEND names ${name})
    file(COPY "${file}" DESTINATION ${stage})
endforeach()

# 2. Signatures.
if(KYR_SIGN_PKCS12)
    if(NOT KYR_OSSLSIGNCODE)
        message(FATAL_ERROR "package: osslsigncode was not found (scripts/setup.sh installs it)")
    endif()
    set(timestamp "")
    if(KYR_SIGN_TIMESTAMP_URL)
        set(timestamp -ts ${KYR_SIGN_TIMESTAMP_URL})
    endif()
    foreach(name IN LISTS names)
        if(NOT name MATCHES "\\.(exe|com|dll)$")
            continue()
        endif()
        execute_process(
            COMMAND ${KYR_OSSLSIGNCODE} sign -pkcs12 ${KYR_SIGN_PKCS12}
                    -readpass ${KYR_SIGN_PASSWORD_FILE} -h sha256 -n kyr-tools ${timestamp}
                    -in ${stage}/${name} -out ${stage}/${name}.signed
            RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
        if(NOT result EQUAL 0)
            file(REMOVE ${stage}/${name}.signed)
            message(FATAL_ERROR "package: signing ${name} failed:\n${output}")
        endif()
        file(RENAME ${stage}/${name}.signed ${stage}/${name})
    endforeach()
endif()

# 3. The zip, the same bytes for the same files.
set(epoch "")
if("$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
    set(epoch $ENV{SOURCE_DATE_EPOCH})
elseif(KYR_GIT AND KYR_SOURCE_DIR)
    # Only when the source folder is the top of its own checkout.
    execute_process(COMMAND ${KYR_GIT} -C ${KYR_SOURCE_DIR} rev-parse --show-toplevel
                    RESULT_VARIABLE result OUTPUT_VARIABLE top
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(result EQUAL 0 AND top)
        file(REAL_PATH "${top}" top)
        file(REAL_PATH "${KYR_SOURCE_DIR}" source)
        if(top STREQUAL source)
            execute_process(COMMAND ${KYR_GIT} -C ${KYR_SOURCE_DIR} log -1 --format=%ct
                            RESULT_VARIABLE result OUTPUT_VARIABLE time
                            OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
            if(result EQUAL 0 AND time MATCHES "^[0-9]+$")
                set(epoch ${time})
            endif()
        endif()
    endif()
endif()
if(NOT epoch)
    set(epoch 946684800)
endif()
# zip stores local time: the time zone is fixed with the time. string(TIMESTAMP) gives the
# time of SOURCE_DATE_EPOCH.
set(ENV{TZ} UTC)
set(ENV{SOURCE_DATE_EPOCH} ${epoch})
string(TIMESTAMP stamp "%Y%m%d%H%M.%S" UTC)
foreach(name IN LISTS names)
    file(CHMOD ${stage}/${name} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
execute_process(COMMAND touch -t ${stamp} ${names} WORKING_DIRECTORY ${stage}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "package: could not set the files' time")
endif()

set(zip_file ${KYR_PACKAGE_DIR}/${KYR_PACKAGE_NAME}.zip)
file(REMOVE ${zip_file})
# -X: no owner or extra times; -D: no folder entries.
execute_process(COMMAND ${KYR_ZIP} -X -D -q ${zip_file} ${names} WORKING_DIRECTORY ${stage}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "package: zip failed (${result})")
endif()

# 4. The checksum beside it.
kyr_write_sha256sums(${KYR_PACKAGE_DIR}/SHA256SUMS ${zip_file})

if(KYR_SIGN_PKCS12)
    set(signed "programs signed")
else()
    set(signed "programs not signed")
endif()
message(STATUS "package: ${zip_file} (${signed}); SHA256SUMS beside it")
