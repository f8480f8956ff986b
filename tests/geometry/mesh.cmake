vintrel_test(geometry-mesh
    SOURCES ${VINTREL_TEST_FOLDER}/mesh_test.cpp
            ${VINTREL_TEST_FOLDER}/intersect_test.cpp
            ${VINTREL_TEST_FOLDER}/intersect_scan_test.cpp
            ${VINTREL_TEST_FOLDER}/build_test.cpp
            ${VINTREL_TEST_FOLDER}/loader_test.cpp
            ${VINTREL_TEST_FOLDER}/../xfile/x_encoder.cpp
    LIBS vintrel_geometry)
add_dependencies(test-geometry-mesh vintrel_xfile)
