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

set(VELDER_PLATFORM_SOURCES)
foreach(service IN ITEMS window_search udp_socket tick_counter)
    list(APPEND VELDER_PLATFORM_SOURCES
        ${PROJECT_SOURCE_DIR}/platform/${service}_${VELDER_PLATFORM_SUFFIX}.cpp)
endforeach()

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

# Gives the shared library its name and export table: exactly GetInfo (1)
# and IsQuakeActive (2), module name "velder", undecorated names.
function(velder_finish_library target)
    if(WIN32)
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            set(STDCALL_ARGS "@24")  # six 4-byte arguments
            set(kill_at --kill-at)
        else()
            set(STDCALL_ARGS "")
            set(kill_at)
        endif()
        set(def ${CMAKE_CURRENT_BINARY_DIR}/velder.def)
        set(exp ${CMAKE_CURRENT_BINARY_DIR}/velder.exp)
        configure_file(${PROJECT_SOURCE_DIR}/host/velder.def.in ${def} @ONLY)
        # dlltool writes the export directory with the bare module name;
        # the linker alone would write the file name "velder.dll" there.
        add_custom_command(OUTPUT ${exp}
            COMMAND ${CMAKE_DLLTOOL} --dllname velder --def ${def} --output-exp ${exp} ${kill_at}
            COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/clear-export-stamp.sh ${exp}
            DEPENDS ${def}
            COMMENT "Writing the export table of velder.dll")
        add_custom_target(${target}_exports DEPENDS ${exp})
        add_dependencies(${target} ${target}_exports)
        target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/host/dll_main.cpp)
        target_link_options(${target} PRIVATE ${exp})
        set_target_properties(${target} PROPERTIES PREFIX "" LINK_DEPENDS ${exp})
    else()
        if(NOT VELDER_FUZZ)
            # Sanitizer runtimes are not linked into shared libraries; only
            # the fuzz build uses them with the library.
            target_link_options(${target} PRIVATE -Wl,--no-undefined)
        endif()
    endif()
endfunction()

# velder-async.dll's name and export table: mIRC's two callbacks and the
# query and list functions, undecorated.
function(velder_finish_async_library target)
    set(def ${CMAKE_CURRENT_BINARY_DIR}/velder-async.def)
    set(text "LIBRARY \"velder-async.dll\"\nEXPORTS\n")
    foreach(entry IN ITEMS LoadDll:4 UnloadDll:4 QueryStart:24 QueryResult:24 QueryCancel:24
        ListStart:24 ListResult:24)
        string(REPLACE ":" ";" parts ${entry})
        list(GET parts 0 name)
        list(GET parts 1 bytes)
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            string(APPEND text "    ${name} = ${name}@${bytes}\n")
        else()
            string(APPEND text "    ${name}\n")
        endif()
    endforeach()
    file(GENERATE OUTPUT ${def} CONTENT "${text}")
    target_sources(${target} PRIVATE ${def})
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME velder-async)
endfunction()
