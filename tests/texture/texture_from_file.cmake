if(TARGET vintrel_texture AND EXISTS "${PROJECT_SOURCE_DIR}/platform/d3d9/device.cpp")
    vintrel_test(texture-from-file
        SOURCES ${VINTREL_TEST_FOLDER}/texture_from_file_test.cpp
        LIBS vintrel_texture)
endif()
