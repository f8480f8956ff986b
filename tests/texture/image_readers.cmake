if(TARGET vintrel_texture)
    vintrel_test(texture-image-readers
        SOURCES ${VINTREL_TEST_FOLDER}/image_readers_test.cpp
        LIBS vintrel_texture)
endif()
