vintrel_test(d3d9
    SOURCES ${VINTREL_TEST_FOLDER}/device_test.cpp
            ${VINTREL_TEST_FOLDER}/resource_test.cpp
            ${VINTREL_TEST_FOLDER}/copy_test.cpp
            ${VINTREL_TEST_FOLDER}/draw_test.cpp
    LIBS vintrel_platform)
