# The scene: overlay and meter quads, and the whole program run in-process
# through the drive tool's runner (camera keys, views, missing files, the
# golden frames and the scripted lap).
if(TARGET vintrel_drive)
    vintrel_test(scene
        SOURCES ${VINTREL_TEST_FOLDER}/overlay_test.cpp
                ${VINTREL_TEST_FOLDER}/drive_script_test.cpp
                ${VINTREL_TEST_FOLDER}/frame_test.cpp
        LIBS vintrel_drive)
    add_dependencies(test-scene data)
    # The camera runs again with the portable math forms, whose normalised
    # axes are a few millionths off unit length.
    add_test(NAME SceneRun.portable-math COMMAND test-scene --gtest_filter=SceneRun.*
             WORKING_DIRECTORY "${PROJECT_BINARY_DIR}")
    set_tests_properties(SceneRun.portable-math PROPERTIES ENVIRONMENT VINTREL_REG_DISABLEPSGP=1 TIMEOUT 600)
    # Each in a process of its own: the golden frames depend on the car's
    # shake sequence starting afresh.
    vintrel_test(scene-golden SOURCES ${VINTREL_TEST_FOLDER}/golden_test.cpp LIBS vintrel_drive)
    # The lap draws some six thousand frames and gets a longer time limit
    # than the usual test; under the sanitizers it would take most of an
    # hour, and it checks the car's path, not memory, so it runs only in the
    # optimised builds.
    if(NOT VINTREL_SANITIZE)
        add_executable(test-scene-lap ${VINTREL_TEST_FOLDER}/lap_test.cpp)
        target_link_libraries(test-scene-lap PRIVATE vintrel_drive GTest::gtest GTest::gtest_main)
        target_compile_definitions(test-scene-lap PRIVATE
            VINTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
            VINTREL_DATA_DIR="${VINTREL_DATA_DIR}")
        vintrel_warnings(test-scene-lap)
        add_test(NAME SceneLap.ScriptedLapStaysOnTheRoadAllTheWay COMMAND test-scene-lap
                 WORKING_DIRECTORY "${PROJECT_BINARY_DIR}")
        set_tests_properties(SceneLap.ScriptedLapStaysOnTheRoadAllTheWay PROPERTIES TIMEOUT 2400)
        add_dependencies(test-scene-lap data)
    endif()
    add_dependencies(test-scene-golden data)
    # The same golden frames with the baseline rasteriser forced, as drawn
    # on processors without AVX2.
    add_test(NAME SceneGolden.StartPositionInBothViews.baseline-isa COMMAND test-scene-golden
             WORKING_DIRECTORY "${PROJECT_BINARY_DIR}")
    set_tests_properties(SceneGolden.StartPositionInBothViews.baseline-isa PROPERTIES
                         ENVIRONMENT VINTREL_RENDER_ISA=sse2 TIMEOUT 600)
    # And with the portable math forms, as builds without SIMD code and
    # other processors draw them.
    add_test(NAME SceneGolden.StartPositionInBothViews.portable-math COMMAND test-scene-golden
             WORKING_DIRECTORY "${PROJECT_BINARY_DIR}")
    set_tests_properties(SceneGolden.StartPositionInBothViews.portable-math PROPERTIES
                         ENVIRONMENT VINTREL_REG_DISABLEPSGP=1 TIMEOUT 600)
endif()

# The drive tool from the command line: help, refused arguments, and the
# overlay and state lines of one frame with the throttle held.
if(TARGET vintrel-drive)
    add_test(NAME drive-help COMMAND vintrel-drive --help)
    set_tests_properties(drive-help PROPERTIES PASS_REGULAR_EXPRESSION "usage: vintrel-drive")
    foreach(bad "--frames;0" "--frames;x" "--keys;0-1 H" "--shot;5" "--threads;0" "--script" "--bogus"
                "--keys;0-1 G;--script;x")
        string(MAKE_C_IDENTIFIER "${bad}" name)
        add_test(NAME drive-refuses${name}
            COMMAND sh -c "\"$0\" \"$@\" >/dev/null 2>&1; echo \"status $?\"" $<TARGET_FILE:vintrel-drive> ${bad})
        set_tests_properties(drive-refuses${name} PROPERTIES PASS_REGULAR_EXPRESSION "^status 2\n$")
    endforeach()
    # A folder as the script is refused like any unreadable file (it was
    # taken as an empty script).
    add_test(NAME drive-refuses-a-folder-as-script
        COMMAND sh -c [["$0" --script "$1" --frames 1 2>&1 >/dev/null; echo "status $?"]]
                $<TARGET_FILE:vintrel-drive> "${PROJECT_BINARY_DIR}")
    set_tests_properties(drive-refuses-a-folder-as-script PROPERTIES PASS_REGULAR_EXPRESSION
        "^vintrel-drive: cannot read the script [^\n]*: Is a directory\n\\(see vintrel-drive --help\\)\nstatus 2\n$")
    # So is a script that never ends, once it passes the longest read.
    add_test(NAME drive-refuses-an-endless-script
        COMMAND sh -c [["$0" --script /dev/zero --frames 1 2>&1 >/dev/null; echo "status $?"]]
                $<TARGET_FILE:vintrel-drive>)
    set_tests_properties(drive-refuses-an-endless-script PROPERTIES PASS_REGULAR_EXPRESSION
        "^vintrel-drive: cannot read the script /dev/zero: larger than 16777216 bytes\n\\(see vintrel-drive --help\\)\nstatus 2\n$")
    add_test(NAME drive-one-frame
        COMMAND sh -c [[
out=$("$0" --keys '0-0 G' --frames 1 --print-overlay --print-state --threads 1) || exit 1
echo "$out" | grep -qx 'overlay frame=0 x=0 y=16 text=Vintrel Test #02/Nov 1,2003' || exit 2
echo "$out" | grep -qx 'overlay frame=0 x=0 y=416 text=View:Behind' || exit 3
[ "$(echo "$out" | grep -c '^overlay frame=0 ')" = 15 ] || exit 4
echo "$out" | grep -q '^state frame=0 posX=[^ ]* posY=[^ ]* posZ=[^ ]* heading=-88.9599991 engineRpm=[^ ]* targetRpm=142.5 gear=0 .* offCourse=0 ' || exit 5
echo "$out" | tail -1 | grep -q '^frames=1 median_ms=[0-9.]* p95_ms=[0-9.]* fps=[0-9.]* startup_ms=[0-9.]*' || exit 6
]] $<TARGET_FILE:vintrel-drive>)
    set_tests_properties(drive-one-frame PROPERTIES TIMEOUT 120)
    # A shot is a PNG of the whole frame, named from where the tool started;
    # a shot of a frame never drawn and a missing data folder fail with 1.
    add_test(NAME drive-shots
        COMMAND sh -c [[
dir=$(mktemp -d) && cd "$dir" || exit 1
"$0" --frames 2 --shot 1:one.png >/dev/null || exit 2
[ "$(head -c 8 one.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || exit 3
"$0" --frames 2 --shot 5:late.png >/dev/null 2>err.txt; [ $? = 1 ] || exit 4
grep -q 'late.png: frame 5 was not drawn' err.txt || exit 5
"$0" --data "$dir/none" >/dev/null 2>err.txt; [ $? = 1 ] || exit 6
grep -q 'cannot enter the data folder' err.txt || exit 7
rm -rf "$dir"
]] $<TARGET_FILE:vintrel-drive>)
    set_tests_properties(drive-shots PROPERTIES TIMEOUT 120)
    # A shot that fails part way (a size limit reached) keeps the file that
    # was there and leaves nothing beside it; a summary lost to a full disk is
    # a failure.
    add_test(NAME drive-failed-writes
        COMMAND sh -c [[
dir=$(mktemp -d) && cd "$dir" || exit 1
echo old >shot.png
(trap '' XFSZ; ulimit -f 4; "$0" --frames 2 --shot 1:shot.png >/dev/null 2>err.txt); [ $? = 1 ] || exit 4
grep -q 'shot.png: cannot write' err.txt || exit 5
[ "$(cat shot.png)" = old ] || exit 6
[ "$(ls | tr '\n' ' ')" = "err.txt shot.png " ] || exit 7
"$0" --frames 1 2>err.txt >/dev/full; [ $? = 1 ] || exit 8
grep -qx 'vintrel-drive: cannot write the output: No space left on device' err.txt || exit 9
rm -rf "$dir"
]] $<TARGET_FILE:vintrel-drive>)
    set_tests_properties(drive-failed-writes PROPERTIES TIMEOUT 120)
endif()

# The lap pilot's script: one that cannot be written whole keeps the file
# that was there; on stdout, one lost to a full disk is a failure.
if(TARGET vintrel-lap-pilot)
    add_test(NAME lap-pilot-failed-writes
        COMMAND sh -c [[
dir=$(mktemp -d) && cd "$dir" || exit 1
echo old >lap.keys
(trap '' XFSZ; ulimit -f 4; "$0" --out lap.keys 2>err.txt); [ $? = 1 ] || exit 2
grep -q "cannot write $dir/lap.keys: File too large" err.txt || exit 3
[ "$(cat lap.keys)" = old ] || exit 4
[ "$(ls | tr '\n' ' ')" = "err.txt lap.keys " ] || exit 5
"$0" 2>err.txt >/dev/full; [ $? = 1 ] || exit 6
grep -q '^vintrel-lap-pilot: cannot write the output: ' err.txt || exit 7
rm -rf "$dir"
]] $<TARGET_FILE:vintrel-lap-pilot>)
    set_tests_properties(lap-pilot-failed-writes PROPERTIES TIMEOUT 300)
endif()
