# GoogleTest and the helpers that add test suites; included by the top level
# when the test suites are built, so that every test folder shares them.

if(WIN32)
    # GoogleTest from Debian's source package, built with the cross compiler.
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    set(VELDER_GTEST gtest)
else()
    find_package(GTest REQUIRED)
    include(GoogleTest)
    set(VELDER_GTEST GTest::gtest)
endif()

# Every native test program's main.
if(NOT WIN32)
    add_library(velder_test_main STATIC ${PROJECT_SOURCE_DIR}/tests/test_main.cpp)
    target_link_libraries(velder_test_main PUBLIC ${VELDER_GTEST})
endif()

if(VELDER_WINEPREFIX)
    # The prefix is made once, before any Windows test runs.
    add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh ${VELDER_WINEPREFIX})
    set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 1500)
endif()

# velder_test(NAME SOURCES...): a GoogleTest suite linked with the library's
# inner functions; NAME takes further sources, libraries and definitions
# like any target. Natively the suite is a program of its own and each test
# case is a ctest entry. For Windows every suite goes into one program,
# velder_suites, added by velder_add_suites_program(): under Wine each
# program start costs time, a minute where qemu runs the 32-bit loader.
function(velder_test name)
    if(WIN32)
        add_library(${name} OBJECT ${ARGN})
        target_link_libraries(${name} PUBLIC velder_core ${VELDER_GTEST})
        set_property(GLOBAL APPEND PROPERTY VELDER_SUITES ${name})
    else()
        add_executable(${name} ${ARGN})
        target_link_libraries(${name} PRIVATE velder_core velder_test_main)
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30)
    endif()
endfunction()

# The one Windows test program, from every suite added so far; called by the
# top level once every test folder is in. GoogleTest's report says which
# cases passed, failed or were skipped; scripts/test counts them from it.
# The entry passes only on GoogleTest's closing summary without a failure:
# a process that died on the way may still exit 0 under Wine.
function(velder_add_suites_program)
    if(NOT WIN32)
        return()
    endif()
    get_property(suites GLOBAL PROPERTY VELDER_SUITES)
    add_executable(velder_suites ${PROJECT_SOURCE_DIR}/tests/test_main.cpp)
    target_link_libraries(velder_suites PRIVATE ${suites})
    # The DLLs the suites load at run time: an object library's own
    # dependencies do not reach the program that links it.
    add_dependencies(velder_suites velder velder_async)
    # A path GoogleTest reads the same way on Windows: relative to the build tree.
    add_test(NAME velder_suites COMMAND velder_suites --gtest_output=xml:velder_suites.xml
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(velder_suites PROPERTIES
        PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\."
        FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
    if(VELDER_WINEPREFIX)
        set_tests_properties(velder_suites PROPERTIES FIXTURES_REQUIRED wine)
    endif()
endfunction()
