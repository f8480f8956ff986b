# Build helpers shared by every folder of the project.

set(VINTREL_WARNINGS -Wall -Wextra)
# float-cast-overflow is not part of GCC's "undefined": a float out of an
# integer's range (or NaN) cast to it is undefined all the same.
set(VINTREL_SANITIZER_FLAGS -fsanitize=address,undefined,float-cast-overflow -fno-omit-frame-pointer
                            -fno-sanitize-recover=undefined,float-cast-overflow)

if(VINTREL_SANITIZE)
    add_compile_options(${VINTREL_SANITIZER_FLAGS})
    add_link_options(${VINTREL_SANITIZER_FLAGS})
endif()
# Fuzzing builds give every library libFuzzer's coverage instrumentation and
# the sanitizers, so a harness links the real libraries; only the harness
# executables themselves link libFuzzer's driver.
if(VINTREL_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined,float-cast-overflow -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined,float-cast-overflow)
    add_link_options(-fsanitize=address,undefined,float-cast-overflow)
endif()
if(NOT VINTREL_SIMD)
    add_compile_definitions(VINTREL_NO_SIMD=1)
endif()

set_property(GLOBAL PROPERTY VINTREL_EXPORTED_TARGETS "")
set_property(GLOBAL PROPERTY VINTREL_PACKAGE_DEPENDENCIES "")

# Adds every immediate child folder of <dir> that has a CMakeLists.txt.
function(vintrel_add_children dir)
    file(GLOB children LIST_DIRECTORIES true RELATIVE "${PROJECT_SOURCE_DIR}/${dir}"
         "${PROJECT_SOURCE_DIR}/${dir}/*")
    list(SORT children)
    foreach(child ${children})
        if(EXISTS "${PROJECT_SOURCE_DIR}/${dir}/${child}/CMakeLists.txt")
            add_subdirectory("${PROJECT_SOURCE_DIR}/${dir}/${child}"
                             "${PROJECT_BINARY_DIR}/${dir}/${child}")
        endif()
    endforeach()
endfunction()

function(vintrel_warnings target)
    target_compile_options(${target} PRIVATE ${VINTREL_WARNINGS})
endfunction()

# Adds a line such as "find_dependency(PNG)" to the installed package file,
# for system libraries that the static libraries link.
function(vintrel_package_dependency line)
    get_property(lines GLOBAL PROPERTY VINTREL_PACKAGE_DEPENDENCIES)
    list(FIND lines "${line}" found)
    if(found EQUAL -1)
        set_property(GLOBAL APPEND PROPERTY VINTREL_PACKAGE_DEPENDENCIES "${line}")
    endif()
endfunction()

# vintrel_library(<target> <folder>): include paths, warnings, installed
# headers of <folder>, export as Vintrel::<name without vintrel_>, pkg-config.
function(vintrel_library target folder)
    target_include_directories(${target} PUBLIC
        $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
        $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/vintrel>)
    vintrel_warnings(${target})
    string(REPLACE "vintrel_" "" short ${target})
    set_target_properties(${target} PROPERTIES EXPORT_NAME ${short})
    add_library(Vintrel::${short} ALIAS ${target})
    install(TARGETS ${target} EXPORT VintrelTargets
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(DIRECTORY "${PROJECT_SOURCE_DIR}/${folder}/"
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vintrel/${folder}
            FILES_MATCHING PATTERN "*.h")
    set_property(GLOBAL APPEND PROPERTY VINTREL_EXPORTED_TARGETS ${target})
endfunction()

function(vintrel_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(test-${name} ${ARG_SOURCES})
    target_link_libraries(test-${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    target_compile_definitions(test-${name} PRIVATE
        VINTREL_CORPUS_DIR="${VINTREL_CORPUS_DIR}"
        VINTREL_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
        VINTREL_BINARY_DIR="${PROJECT_BINARY_DIR}"
        VINTREL_DATA_DIR="${VINTREL_DATA_DIR}")
    vintrel_warnings(test-${name})
    gtest_discover_tests(test-${name} DISCOVERY_TIMEOUT 120
                         WORKING_DIRECTORY "${PROJECT_BINARY_DIR}"
                         PROPERTIES TIMEOUT 600)
endfunction()

function(vintrel_bench area)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(vintrel-bench-${area} ${ARG_SOURCES})
    target_link_libraries(vintrel-bench-${area} PRIVATE ${ARG_LIBS} benchmark::benchmark)
    vintrel_warnings(vintrel-bench-${area})
endfunction()

function(vintrel_tool name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(vintrel-${name} ${ARG_SOURCES})
    target_link_libraries(vintrel-${name} PRIVATE ${ARG_LIBS})
    vintrel_warnings(vintrel-${name})
    install(TARGETS vintrel-${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# With VINTREL_FUZZ (clang) a libFuzzer target; otherwise the harness runs
# over its seed corpus as a plain regression test.
function(vintrel_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;CORPUS" ${ARGN})
    if(VINTREL_FUZZ)
        add_executable(fuzz-${name} ${ARG_SOURCES})
        target_link_options(fuzz-${name} PRIVATE -fsanitize=fuzzer)
    else()
        add_executable(fuzz-${name} ${ARG_SOURCES} "${PROJECT_SOURCE_DIR}/fuzz/driver_main.cpp")
        if(VINTREL_BUILD_TESTS)
            add_test(NAME fuzz-${name}-corpus COMMAND fuzz-${name} ${ARG_CORPUS})
            set_tests_properties(fuzz-${name}-corpus PROPERTIES TIMEOUT 600)
        endif()
    endif()
    target_link_libraries(fuzz-${name} PRIVATE ${ARG_LIBS})
    vintrel_warnings(fuzz-${name})
endfunction()

function(vintrel_write_package)
    include(CMakePackageConfigHelpers)
    get_property(targets GLOBAL PROPERTY VINTREL_EXPORTED_TARGETS)
    if(NOT targets)
        return()
    endif()
    get_property(dep_lines GLOBAL PROPERTY VINTREL_PACKAGE_DEPENDENCIES)
    string(REPLACE ";" "\n" VINTREL_DEPENDENCY_LINES "${dep_lines}")
    install(EXPORT VintrelTargets NAMESPACE Vintrel::
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Vintrel)
    configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/VintrelConfig.cmake.in"
        "${PROJECT_BINARY_DIR}/VintrelConfig.cmake"
        INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Vintrel)
    write_basic_package_version_file("${PROJECT_BINARY_DIR}/VintrelConfigVersion.cmake"
        COMPATIBILITY SameMajorVersion)
    install(FILES "${PROJECT_BINARY_DIR}/VintrelConfig.cmake"
                  "${PROJECT_BINARY_DIR}/VintrelConfigVersion.cmake"
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Vintrel)
    # One pkg-config file per library; each requires the ones it links.
    foreach(target ${targets})
        string(REPLACE "vintrel_" "" short ${target})
        set(requires "")
        if(NOT short STREQUAL "platform")
            set(requires "vintrel-platform")
        endif()
        get_target_property(pc_requires ${target} VINTREL_PKGCONFIG_REQUIRES)
        if(pc_requires)
            string(APPEND requires " ${pc_requires}")
        endif()
        get_target_property(pc_libs ${target} VINTREL_PKGCONFIG_LIBS)
        if(NOT pc_libs)
            set(pc_libs "")
        endif()
        set(VINTREL_PC_NAME ${short})
        set(VINTREL_PC_REQUIRES "${requires}")
        set(VINTREL_PC_LIBS "${pc_libs}")
        configure_file("${PROJECT_SOURCE_DIR}/cmake/vintrel.pc.in"
                       "${PROJECT_BINARY_DIR}/pkgconfig/vintrel-${short}.pc" @ONLY)
        install(FILES "${PROJECT_BINARY_DIR}/pkgconfig/vintrel-${short}.pc"
                DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
    endforeach()
endfunction()
