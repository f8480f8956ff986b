if(TARGET vintrel_texture)
    # libjpeg too, to write the files some JPEG tests read.
    find_package(JPEG REQUIRED)
    vintrel_test(texture-image-readers
        SOURCES ${VINTREL_TEST_FOLDER}/image_readers_test.cpp
        LIBS vintrel_texture JPEG::JPEG)
endif()
