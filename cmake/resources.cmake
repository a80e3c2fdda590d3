# Windows resources of the programs: the application manifest and the version resource of
# both, and the icon of kyrServer. The sources are in resources/; the version numbers come
# from the release's version (cmake/version.cmake) through a generated header.
enable_language(RC)

set(KYR_RESOURCE_DIR ${PROJECT_SOURCE_DIR}/resources)
set(KYR_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)

configure_file(${KYR_RESOURCE_DIR}/version.h.in ${KYR_GENERATED_DIR}/kyr_version.h @ONLY)

# kyr_add_resources(target script [files...]): compiles resources/<script> into the target.
# The files are those the script embeds (manifest, icon); a change to one rebuilds it.
function(kyr_add_resources target script)
    set(source ${KYR_RESOURCE_DIR}/${script})
    target_sources(${target} PRIVATE ${source})
    # Only the resource compiler needs these folders.
    target_include_directories(${target} PRIVATE
        "$<$<COMPILE_LANGUAGE:RC>:${KYR_RESOURCE_DIR}>"
        "$<$<COMPILE_LANGUAGE:RC>:${KYR_GENERATED_DIR}>")
    set(depends ${KYR_RESOURCE_DIR}/version_info.rc ${KYR_GENERATED_DIR}/kyr_version.h)
    foreach(file IN LISTS ARGN)
        list(APPEND depends ${KYR_RESOURCE_DIR}/${file})
    endforeach()
    set_source_files_properties(${source} TARGET_DIRECTORY ${target}
                                PROPERTIES OBJECT_DEPENDS "${depends}")
    if(MSVC)
        # The manifest comes from the resource script, not from the linker.
        target_link_options(${target} PRIVATE /MANIFEST:NO)
    endif()
endfunction()

kyr_add_resources(kyrUpdater kyrUpdater.rc kyr.manifest)
if(TARGET kyrServer)
    kyr_add_resources(kyrServer kyrServer.rc kyr.manifest kyrServer.ico)
endif()
