// The PPM reader over untrusted bytes.
#include "fuzz/image_reader_fuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageReader(ReadPpmImage, data, size);
    return 0;
}
