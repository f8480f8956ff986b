if(TARGET vintrel_app)
    vintrel_test(sound
        SOURCES ${VINTREL_TEST_FOLDER}/wave_reader_test.cpp
                ${VINTREL_TEST_FOLDER}/sound_set_test.cpp
        LIBS vintrel_app)
endif()
