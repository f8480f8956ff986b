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
    # Each in a process of its own: the golden frames depend on the car's
    # shake sequence starting afresh; the lap is long.
    vintrel_test(scene-golden SOURCES ${VINTREL_TEST_FOLDER}/golden_test.cpp LIBS vintrel_drive)
    vintrel_test(scene-lap SOURCES ${VINTREL_TEST_FOLDER}/lap_test.cpp LIBS vintrel_drive)
    target_compile_definitions(test-scene-lap PRIVATE VINTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    add_dependencies(test-scene-golden data)
    add_dependencies(test-scene-lap data)
endif()
