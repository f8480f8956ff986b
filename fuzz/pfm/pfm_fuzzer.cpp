// The PFM reader over untrusted bytes.
#include "fuzz/image_reader_fuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageReader(ReadPfmImage, data, size);
    return 0;
}
