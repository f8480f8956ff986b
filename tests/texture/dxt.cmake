if(TARGET vintrel_texture)
    vintrel_test(texture-dxt
        SOURCES ${VINTREL_TEST_FOLDER}/dxt_test.cpp
        LIBS vintrel_texture)
endif()
