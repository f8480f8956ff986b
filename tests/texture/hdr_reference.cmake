# Radiance HDR decodes against the corpus' float TIFF references (libtiff).
if(TARGET vintrel_texture)
    find_package(TIFF REQUIRED)
    vintrel_test(texture-hdr-reference
        SOURCES ${VINTREL_TEST_FOLDER}/hdr_reference_test.cpp
        LIBS vintrel_texture TIFF::TIFF)
endif()
