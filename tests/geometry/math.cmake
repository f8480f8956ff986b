vintrel_test(geometry-math
    SOURCES ${VINTREL_TEST_FOLDER}/math_operations_test.cpp
            ${VINTREL_TEST_FOLDER}/math_variants_test.cpp
            ${VINTREL_TEST_FOLDER}/math_selection_test.cpp
            ${VINTREL_TEST_FOLDER}/math_half_test.cpp
    LIBS vintrel_geometry)
