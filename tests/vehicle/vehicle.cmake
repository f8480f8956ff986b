if(TARGET vintrel_app AND EXISTS "${PROJECT_SOURCE_DIR}/vehicle/CMakeLists.txt")
    vintrel_test(vehicle
        SOURCES ${VINTREL_TEST_FOLDER}/drivetrain_test.cpp
                ${VINTREL_TEST_FOLDER}/ground_probe_test.cpp
                ${VINTREL_TEST_FOLDER}/model_test.cpp
        LIBS vintrel_app)
    # The sounds and the course come from the data set.
    if(TARGET data)
        add_dependencies(test-vehicle data)
    endif()
endif()
