vintrel_test(d3d9-render
    SOURCES ${VINTREL_TEST_FOLDER}/render_output_test.cpp
            ${VINTREL_TEST_FOLDER}/render_raster_test.cpp
            ${VINTREL_TEST_FOLDER}/render_texture_test.cpp
            ${VINTREL_TEST_FOLDER}/render_transform_test.cpp
    LIBS vintrel_platform)
