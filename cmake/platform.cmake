# Per-OS choices, made in one place: which platform sources are built, what
# the library links, and how the shared library gets its exact export table.

if(WIN32)
    set(VELDER_PLATFORM_SUFFIX win32)
    # Winsock 1.1 and the window manager; KERNEL32 comes by default.
    set(VELDER_PLATFORM_LIBS wsock32 user32)
else()
    set(VELDER_PLATFORM_SUFFIX posix)
    set(VELDER_PLATFORM_LIBS)
endif()

# platform/SERVICE.h is built from platform/SERVICE_SUFFIX.cpp, and from
# platform/SERVICE.cpp where part of the service is the same on every OS.
function(velder_platform_sources out)
    set(sources)
    foreach(service IN LISTS ARGN)
        if(EXISTS ${PROJECT_SOURCE_DIR}/platform/${service}.cpp)
            list(APPEND sources ${PROJECT_SOURCE_DIR}/platform/${service}.cpp)
        endif()
        list(APPEND sources ${PROJECT_SOURCE_DIR}/platform/${service}_${VELDER_PLATFORM_SUFFIX}.cpp)
    endforeach()
    set(${out} ${sources} PARENT_SCOPE)
endfunction()

# What the library itself runs on: velder.dll and everything built on its core.
velder_platform_sources(VELDER_PLATFORM_SOURCES window_search udp_socket tick_counter)
# What velder-async.dll adds: the list file, the ticket count kept for the
# process, its background threads and mIRC's command interface.
velder_platform_sources(VELDER_ASYNC_PLATFORM_SOURCES
    replaced_file process_counter worker_thread host_messages)
if(NOT WIN32)
    # POSIX threads, and shm_open (in librt before glibc 2.34).
    find_package(Threads REQUIRED)
    set(VELDER_ASYNC_PLATFORM_LIBS Threads::Threads)
    find_library(VELDER_RT_LIBRARY rt)
    if(VELDER_RT_LIBRARY)
        list(APPEND VELDER_ASYNC_PLATFORM_LIBS ${VELDER_RT_LIBRARY})
    endif()
endif()
# What the programs around the library need: the tool, the stand-in, the
# test programs and the benchmarks. Never linked into a DLL.
velder_platform_sources(VELDER_PROGRAM_PLATFORM_SOURCES loaded_library program)
if(NOT WIN32)
    set(VELDER_PROGRAM_PLATFORM_LIBS ${CMAKE_DL_LIBS})
endif()

if(WIN32)
    # Programs and DLLs carry their runtime with them: nothing but system DLLs
    # may be imported, and Wine has no MinGW runtime DLLs to offer.
    add_link_options(-static -static-libgcc -static-libstdc++)
    # The same sources give the same bytes wherever they are built: no
    # source paths and no link time stamp in the binaries.
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>)
    add_link_options(-Wl,--no-insert-timestamp)
endif()

if(WIN32 AND CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    # Windows test programs run under Wine, in a prefix of the project's own
    # that the 32-bit and 64-bit build trees share. Making it takes minutes,
    # so it lives outside the source tree, where every clone finds it again.
    if(DEFINED ENV{XDG_CACHE_HOME})
        set(prefix $ENV{XDG_CACHE_HOME}/velder/wineprefix)
    elseif(DEFINED ENV{HOME})
        set(prefix $ENV{HOME}/.cache/velder/wineprefix)
    else()
        set(prefix ${PROJECT_SOURCE_DIR}/build/wineprefix)
    endif()
    set(VELDER_WINEPREFIX ${prefix} CACHE PATH "Wine prefix for the Windows test programs")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${VELDER_WINEPREFIX})
endif()

# velder_export_table(TARGET MODULE EXPORT...): TARGET's Windows export
# table, written by dlltool so that the export directory names the module
# exactly MODULE (the linker alone writes the file name there). Each EXPORT
# is NAME:BYTES, BYTES the size of its arguments (32-bit builds decorate
# the symbol with it, the table never does); ordinals follow the order given,
# from 1. The time stamp dlltool takes from the clock is cleared, so that the
# same sources give the same DLL. Elsewhere the shared library only has to
# leave nothing undefined.
function(velder_export_table target module)
    if(NOT WIN32)
        if(NOT VELDER_FUZZ)
            # Sanitizer runtimes are not linked into shared libraries; only
            # the fuzz build uses them with the library.
            target_link_options(${target} PRIVATE -Wl,--no-undefined)
        endif()
        return()
    endif()
    set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    set(exp ${CMAKE_CURRENT_BINARY_DIR}/${target}.exp)
    set(text "LIBRARY \"${module}\"\nEXPORTS\n")
    set(ordinal 1)
    foreach(entry IN LISTS ARGN)
        string(REPLACE ":" ";" parts ${entry})
        list(GET parts 0 name)
        list(GET parts 1 bytes)
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            string(APPEND text "    ${name}@${bytes} @${ordinal}\n")
        else()
            string(APPEND text "    ${name} @${ordinal}\n")
        endif()
        math(EXPR ordinal "${ordinal} + 1")
    endforeach()
    file(GENERATE OUTPUT ${def} CONTENT "${text}")
    set(kill_at)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(kill_at --kill-at)  # GetInfo@24 is exported as GetInfo
    endif()
    add_custom_command(OUTPUT ${exp}
        COMMAND ${CMAKE_DLLTOOL} --dllname ${module} --def ${def} --output-exp ${exp} ${kill_at}
        COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/clear-export-stamp.sh ${exp}
        DEPENDS ${def} ${PROJECT_SOURCE_DIR}/cmake/clear-export-stamp.sh
        COMMENT "Writing the export table of ${module}")
    add_custom_target(${target}_exports DEPENDS ${exp})
    add_dependencies(${target} ${target}_exports)
    target_link_options(${target} PRIVATE ${exp})
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${exp})
endfunction()
