if(TARGET vintrel_app)
    vintrel_test(vehicle
        SOURCES ${VINTREL_TEST_FOLDER}/drivetrain_test.cpp
        LIBS vintrel_app)
endif()
