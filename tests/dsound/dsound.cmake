vintrel_test(dsound
    SOURCES ${VINTREL_TEST_FOLDER}/direct_sound_test.cpp
            ${VINTREL_TEST_FOLDER}/mixer_test.cpp
    LIBS vintrel_platform)
