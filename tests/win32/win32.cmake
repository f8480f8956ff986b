vintrel_test(win32
    SOURCES ${VINTREL_TEST_FOLDER}/platform_base_test.cpp
    LIBS vintrel_platform)
