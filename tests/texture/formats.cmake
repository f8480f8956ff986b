if(TARGET vintrel_texture)
    vintrel_test(texture-formats
        SOURCES ${VINTREL_TEST_FOLDER}/formats_test.cpp
        LIBS vintrel_texture)
endif()
