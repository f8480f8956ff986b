if(TARGET vintrel_texture)
    vintrel_test(texture-plain-copy
        SOURCES ${VINTREL_TEST_FOLDER}/plain_copy_test.cpp
        LIBS vintrel_texture)
endif()
