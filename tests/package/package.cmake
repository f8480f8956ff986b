# Installs the build into a scratch prefix and builds a small program that
# finds the libraries with find_package(Vintrel) and with pkg-config.
if(NOT VINTREL_SANITIZE)
    add_test(NAME package-consumer
        COMMAND ${CMAKE_COMMAND}
            -DBUILD_DIR=${PROJECT_BINARY_DIR}
            -DSOURCE_DIR=${VINTREL_TEST_FOLDER}/consumer
            -DWORK_DIR=${PROJECT_BINARY_DIR}/package-test
            -DGENERATOR=${CMAKE_GENERATOR}
            -P ${VINTREL_TEST_FOLDER}/consumer/run.cmake)
    set_tests_properties(package-consumer PROPERTIES TIMEOUT 900)
endif()
