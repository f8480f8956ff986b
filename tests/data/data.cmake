# Checks of the generated data set, read back with the program's own
# libraries. They run on the files the build wrote into VINTREL_DATA_DIR.
if(TARGET vintrel_assets AND TARGET vintrel_geometry AND TARGET vintrel_texture AND TARGET vintrel_app)
    vintrel_test(data
        SOURCES ${VINTREL_TEST_FOLDER}/course_test.cpp
                ${VINTREL_TEST_FOLDER}/files_test.cpp
                ${VINTREL_TEST_FOLDER}/generator_test.cpp
                ${VINTREL_TEST_FOLDER}/writers_test.cpp
        LIBS vintrel_assets vintrel_geometry vintrel_texture vintrel_app)
    add_dependencies(test-data data vintrel_xfile vintrel-make-assets)
endif()
