vintrel_test(d3d9-render
    SOURCES ${VINTREL_TEST_FOLDER}/render_output_test.cpp
            ${VINTREL_TEST_FOLDER}/render_raster_test.cpp
            ${VINTREL_TEST_FOLDER}/render_texture_test.cpp
            ${VINTREL_TEST_FOLDER}/render_transform_test.cpp
            ${VINTREL_TEST_FOLDER}/render_stage_test.cpp
            ${VINTREL_TEST_FOLDER}/render_robust_test.cpp
            ${VINTREL_TEST_FOLDER}/render_pool_test.cpp
            ${VINTREL_TEST_FOLDER}/render_cull_test.cpp
    LIBS vintrel_platform)

# Golden frames through the device's interface.
if(EXISTS "${PROJECT_SOURCE_DIR}/platform/d3d9/device.cpp")
    vintrel_test(d3d9-render-device
        SOURCES ${VINTREL_TEST_FOLDER}/render_device_test.cpp
                ${VINTREL_TEST_FOLDER}/render_cull_device_test.cpp
        LIBS vintrel_platform)
endif()

# The benchmark's scene, frame checksums kept exact.
if(EXISTS "${PROJECT_SOURCE_DIR}/bench/render/bench_scene.cpp")
    vintrel_test(d3d9-render-bench-scene
        SOURCES ${VINTREL_TEST_FOLDER}/render_bench_scene_test.cpp
                ${VINTREL_TEST_FOLDER}/render_isa_test.cpp
                ${PROJECT_SOURCE_DIR}/bench/render/bench_scene.cpp
        LIBS vintrel_platform)
endif()

# The render tests and golden frames again with the baseline rasteriser
# forced, as on processors without AVX2 (the entries above take the widest
# build the processor has).
if(TARGET test-d3d9-render-bench-scene)
    add_test(NAME d3d9-render-bench-scene-baseline-isa
             COMMAND test-d3d9-render-bench-scene
                     --gtest_filter=RenderBenchScene.*:RasterIsa.FirstChoiceFollowsTheEnvironment)
    set_tests_properties(d3d9-render-bench-scene-baseline-isa PROPERTIES ENVIRONMENT VINTREL_RENDER_ISA=sse2 TIMEOUT 600)
endif()
add_test(NAME d3d9-render-baseline-isa COMMAND test-d3d9-render)
set_tests_properties(d3d9-render-baseline-isa PROPERTIES ENVIRONMENT VINTREL_RENDER_ISA=sse2 TIMEOUT 600)
if(TARGET test-d3d9-render-device)
    add_test(NAME d3d9-render-device-baseline-isa COMMAND test-d3d9-render-device)
    set_tests_properties(d3d9-render-device-baseline-isa PROPERTIES ENVIRONMENT VINTREL_RENDER_ISA=sse2 TIMEOUT 600)
endif()

# The wider rasterisers' objects lend no AVX code to the rest of the
# program; and the golden frames once more with the AVX2 build forced, as on
# processors without AVX-512.
get_property(raster_avx2 GLOBAL PROPERTY VINTREL_RASTER_AVX2)
if(raster_avx2)
    add_test(NAME d3d9-raster-simd-objects
             COMMAND sh ${VINTREL_TEST_FOLDER}/simd_object_check.sh $<TARGET_FILE:vintrel_platform>)
    add_test(NAME d3d9-render-avx2-isa COMMAND test-d3d9-render)
    set_tests_properties(d3d9-render-avx2-isa PROPERTIES ENVIRONMENT VINTREL_RENDER_ISA=avx2 TIMEOUT 600)
endif()
