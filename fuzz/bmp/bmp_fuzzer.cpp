// The BMP reader over untrusted bytes.
#include "fuzz/image_reader_fuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzImageReader(ReadBmpImage, data, size);
    FuzzImageReader(ReadDibImage, data, size);
    return 0;
}
