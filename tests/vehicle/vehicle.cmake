if(TARGET vintrel_app AND EXISTS "${PROJECT_SOURCE_DIR}/vehicle/CMakeLists.txt")
    vintrel_test(vehicle
        SOURCES ${VINTREL_TEST_FOLDER}/drivetrain_test.cpp
        LIBS vintrel_app)
endif()
