# GoogleTest and the helper that adds one test program; included by the top
# level when the test suites are built, so that every test folder shares them.

if(WIN32)
    # GoogleTest from Debian's source package, built with the cross compiler.
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    set(VELDER_GTEST_MAIN gtest_main)
else()
    find_package(GTest REQUIRED)
    include(GoogleTest)
    set(VELDER_GTEST_MAIN GTest::gtest_main)
endif()

if(VELDER_WINEPREFIX)
    # The prefix is made once, before any Windows test runs.
    add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh ${VELDER_WINEPREFIX})
    set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 1500)
endif()

# velder_test(NAME SOURCES...): a GoogleTest program linked with the library's
# inner functions. Natively each test case is its own ctest entry; under Wine
# the whole program is one entry, run once the Wine prefix is ready.
function(velder_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE velder_core ${VELDER_GTEST_MAIN})
    if(VELDER_WINEPREFIX)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
    elseif(WIN32)
        add_test(NAME ${name} COMMAND ${name})
    else()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30)
    endif()
endfunction()
