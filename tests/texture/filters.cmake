if(TARGET vintrel_texture)
    vintrel_test(texture-filters
        SOURCES ${VINTREL_TEST_FOLDER}/filters_test.cpp
        LIBS vintrel_texture)
endif()
