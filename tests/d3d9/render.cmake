vintrel_test(d3d9-render
    SOURCES ${VINTREL_TEST_FOLDER}/render_output_test.cpp
            ${VINTREL_TEST_FOLDER}/render_raster_test.cpp
            ${VINTREL_TEST_FOLDER}/render_texture_test.cpp
            ${VINTREL_TEST_FOLDER}/render_transform_test.cpp
            ${VINTREL_TEST_FOLDER}/render_stage_test.cpp
            ${VINTREL_TEST_FOLDER}/render_robust_test.cpp
            ${VINTREL_TEST_FOLDER}/render_pool_test.cpp
    LIBS vintrel_platform)

# Golden frames through the device's interface.
if(EXISTS "${PROJECT_SOURCE_DIR}/platform/d3d9/device.cpp")
    vintrel_test(d3d9-render-device
        SOURCES ${VINTREL_TEST_FOLDER}/render_device_test.cpp
        LIBS vintrel_platform)
endif()

# The benchmark's scene, frame checksums kept exact.
if(EXISTS "${PROJECT_SOURCE_DIR}/bench/render/bench_scene.cpp")
    vintrel_test(d3d9-render-bench-scene
        SOURCES ${VINTREL_TEST_FOLDER}/render_bench_scene_test.cpp
                ${PROJECT_SOURCE_DIR}/bench/render/bench_scene.cpp
        LIBS vintrel_platform)
endif()
