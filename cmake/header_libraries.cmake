# The header-only libraries of the tool and the stand-in: standalone Asio
# (Debian's libasio-dev) and CLI11 (libcli11-dev). The MinGW compilers do not
# search /usr/include, and must not see the rest of it, so both builds take
# them from a folder that holds links to these two libraries' headers only.

find_path(VELDER_ASIO_INCLUDE asio.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
find_path(VELDER_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT VELDER_ASIO_INCLUDE OR NOT VELDER_CLI11_INCLUDE)
    message(FATAL_ERROR "the tool and the stand-in need Asio and CLI11: "
        "apt-get install libasio-dev libcli11-dev")
endif()

set(_velder_headers ${CMAKE_BINARY_DIR}/header_libraries)
file(MAKE_DIRECTORY ${_velder_headers})
foreach(_entry asio.hpp asio)
    file(CREATE_LINK ${VELDER_ASIO_INCLUDE}/${_entry} ${_velder_headers}/${_entry} SYMBOLIC)
endforeach()
file(CREATE_LINK ${VELDER_CLI11_INCLUDE}/CLI ${_velder_headers}/CLI SYMBOLIC)

add_library(velder_header_libraries INTERFACE)
target_include_directories(velder_header_libraries SYSTEM INTERFACE ${_velder_headers})
# No Boost, and on Windows the select-based reactor on the calling thread:
# the completion-port backend waits for timers on a thread of its own.
target_compile_definitions(velder_header_libraries INTERFACE
    ASIO_STANDALONE ASIO_NO_DEPRECATED $<$<BOOL:${WIN32}>:ASIO_DISABLE_IOCP>)
if(WIN32)
    target_link_libraries(velder_header_libraries INTERFACE ws2_32 mswsock)
endif()

# Asio's atomic fences are beyond ThreadSanitizer (GCC refuses to build them
# with -fsanitize=thread), so in a ThreadSanitizer build the code on Asio,
# the stand-ins and the test helpers around them, is built uninstrumented
# (velder_uses_asio): it is not what that build watches, and the sanitizer
# still sees its locks and threads come and go.
function(velder_uses_asio target)
    target_link_libraries(${target} PRIVATE velder_header_libraries)
    if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=thread")
        target_compile_options(${target} PRIVATE -fno-sanitize=thread)
    endif()
endfunction()
