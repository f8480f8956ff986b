vintrel_test(mmio
    SOURCES ${VINTREL_TEST_FOLDER}/mmio_test.cpp
    LIBS vintrel_platform)
