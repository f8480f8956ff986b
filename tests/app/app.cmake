# The program's shell and resources, on the headless window system with a
# recording device.
if(TARGET vintrel_app AND EXISTS "${PROJECT_SOURCE_DIR}/app/CMakeLists.txt")
    vintrel_test(app
        SOURCES ${VINTREL_TEST_FOLDER}/shell_test.cpp
                ${VINTREL_TEST_FOLDER}/frame_pacer_test.cpp
                ${VINTREL_TEST_FOLDER}/resources_test.cpp
                ${VINTREL_TEST_FOLDER}/fake_device.cpp
        LIBS vintrel_app)
endif()

# The program in a real window on a virtual display (xvfb-run starts one),
# driven with xdotool.
find_package(X11)
find_program(XVFB_RUN xvfb-run)
if(TARGET vintrel AND TARGET vintrel_shell_gtk AND X11_FOUND)
    add_executable(test-app-smoke ${VINTREL_TEST_FOLDER}/smoke_test.cpp)
    target_link_libraries(test-app-smoke PRIVATE PkgConfig::GTK3 X11::X11 GTest::gtest GTest::gtest_main)
    target_compile_definitions(test-app-smoke PRIVATE
        VINTREL_BINARY_DIR="${PROJECT_BINARY_DIR}"
        VINTREL_DATA_DIR="${VINTREL_DATA_DIR}")
    vintrel_warnings(test-app-smoke)
    add_dependencies(test-app-smoke vintrel)
    if(XVFB_RUN)
        add_test(NAME app-smoke
            COMMAND ${XVFB_RUN} -a -s "-screen 0 1024x768x24 -nolisten tcp" $<TARGET_FILE:test-app-smoke>
            WORKING_DIRECTORY "${PROJECT_BINARY_DIR}")
    else()
        # Without a virtual display the test reports itself skipped.
        add_test(NAME app-smoke COMMAND test-app-smoke)
    endif()
    set_tests_properties(app-smoke PROPERTIES TIMEOUT 300 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
        ENVIRONMENT "VINTREL_AUDIO=capture;LSAN_OPTIONS=suppressions=${VINTREL_TEST_FOLDER}/smoke_leaks.supp:print_suppressions=0")
endif()

# The executable itself: --help, a headless run that ends by itself, and a
# clear error with status 1 when there is no display.
if(TARGET vintrel)
    add_test(NAME app-help COMMAND vintrel --help)
    set_tests_properties(app-help PROPERTIES PASS_REGULAR_EXPRESSION "usage: vintrel")
    add_test(NAME app-headless-run
        COMMAND ${CMAKE_COMMAND} -E env VINTREL_HEADLESS=1 VINTREL_HEADLESS_FRAMES=5
                "VINTREL_HEADLESS_PNG=${PROJECT_BINARY_DIR}/headless-run.png" $<TARGET_FILE:vintrel>
        WORKING_DIRECTORY "${PROJECT_BINARY_DIR}")
    add_test(NAME app-no-display
        COMMAND sh -c "\"$0\" 2>&1; echo \"status $?\"" $<TARGET_FILE:vintrel>)
    set_tests_properties(app-no-display PROPERTIES
        ENVIRONMENT "DISPLAY=;WAYLAND_DISPLAY=;VINTREL_HEADLESS=;LSAN_OPTIONS=suppressions=${VINTREL_TEST_FOLDER}/smoke_leaks.supp:print_suppressions=0"
        PASS_REGULAR_EXPRESSION "^vintrel: cannot open a display[^\n]*\nstatus 1\n$")
    set_tests_properties(app-headless-run app-no-display PROPERTIES TIMEOUT 120)
    # Frame counts that are not 1 to 100000000 and key scripts that cannot be
    # read are refused with status 1 before the run starts (a count taken as
    # no limit ran for ever; a folder was taken as an empty script; a device
    # that never ends was read until memory ran out).
    add_test(NAME app-headless-refuses-bad-settings
        COMMAND sh -c [[
export VINTREL_HEADLESS=1
for frames in abc -1 0 +5 ' 5' 5x 100000001 99999999999999999999; do
    err=$(VINTREL_HEADLESS_FRAMES="$frames" timeout 60 "$0" 2>&1 >/dev/null); status=$?
    [ $status = 1 ] || { echo "VINTREL_HEADLESS_FRAMES=$frames: status $status"; exit 1; }
    [ "$err" = "vintrel: VINTREL_HEADLESS_FRAMES=$frames is not a frame count from 1 to 100000000" ] || { echo "$err"; exit 2; }
done
dir=$(mktemp -d)
err=$(VINTREL_HEADLESS_FRAMES=3 VINTREL_HEADLESS_KEYS="$dir" timeout 60 "$0" 2>&1 >/dev/null); status=$?
rmdir "$dir"
[ $status = 1 ] || { echo "folder as key script: status $status"; exit 3; }
[ "$err" = "vintrel: cannot use the key script $dir: Is a directory" ] || { echo "$err"; exit 4; }
err=$(VINTREL_HEADLESS_FRAMES=3 VINTREL_HEADLESS_KEYS=/dev/zero timeout 60 "$0" 2>&1 >/dev/null); status=$?
[ $status = 1 ] || { echo "endless key script: status $status"; exit 5; }
[ "$err" = "vintrel: cannot use the key script /dev/zero: larger than 16777216 bytes" ] || { echo "$err"; exit 6; }
]] $<TARGET_FILE:vintrel>)
    set_tests_properties(app-headless-refuses-bad-settings PROPERTIES TIMEOUT 600
        WORKING_DIRECTORY "${VINTREL_DATA_DIR}")
endif()
