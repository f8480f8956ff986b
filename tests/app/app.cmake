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
