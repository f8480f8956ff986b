// The SSE set: vector-unit forms of the transforms, the matrix product, the
// normalisation and the array transforms.
#include "geometry/math_dispatch.h"

#if !VINTREL_NO_SIMD && defined(__SSE__)
#include "geometry/math_simd.h"

bool InstallSseMathVariants(MathDispatchTable* table) {
    InstallSimdForms(table);
    return true;
}

#else

bool InstallSseMathVariants(MathDispatchTable*) {
    return false;
}

#endif
