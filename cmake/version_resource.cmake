# Windows version resources: what Explorer's Details tab and installers show
# for velder.dll and velder.exe. The version is the project's, set once in
# the top-level project() call.

if(WIN32)
    enable_language(RC)
endif()

# velder_version_resource(TARGET FILE_NAME DESCRIPTION): links a version
# resource into TARGET on Windows; does nothing elsewhere.
function(velder_version_resource target file_name description)
    if(NOT WIN32)
        return()
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        set(file_type VFT_APP)
    else()
        set(file_type VFT_DLL)
    endif()
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
