vintrel_test(win32
    SOURCES ${VINTREL_TEST_FOLDER}/platform_base_test.cpp
            ${VINTREL_TEST_FOLDER}/whole_file_test.cpp
    LIBS vintrel_platform)
