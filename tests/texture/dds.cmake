if(TARGET vintrel_texture)
    find_package(PNG REQUIRED)
    vintrel_test(texture-dds
        SOURCES ${VINTREL_TEST_FOLDER}/dds_test.cpp
        LIBS vintrel_texture PNG::PNG)
endif()
