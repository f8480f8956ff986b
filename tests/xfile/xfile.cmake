vintrel_test(xfile
    SOURCES ${VINTREL_TEST_FOLDER}/parse_test.cpp
            ${VINTREL_TEST_FOLDER}/forms_test.cpp
            ${VINTREL_TEST_FOLDER}/component_test.cpp
            ${VINTREL_TEST_FOLDER}/corpus_test.cpp
            ${VINTREL_TEST_FOLDER}/x_encoder.cpp
            ${VINTREL_TEST_FOLDER}/x_test_util.cpp
    LIBS vintrel_xfile_core vintrel_platform)
# The component is loaded at run time and the dump tool is run as a program.
add_dependencies(test-xfile vintrel_xfile vintrel-xdump)
