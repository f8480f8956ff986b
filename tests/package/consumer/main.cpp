// A program outside the project that uses the installed libraries.
#include <cstdio>

#include "platform/win32/windows.h"
#if HAVE_VINTREL_GEOMETRY
#include "geometry/geometry.h"
#endif
#if HAVE_VINTREL_TEXTURE
#include "texture/texture.h"
#endif

int main() {
    if (!SUCCEEDED(S_OK) || !FAILED(E_FAIL)) return 1;
#if HAVE_VINTREL_GEOMETRY
    Matrix a, b, product;
    BuildScalingMatrix(&a, 2.0f, 3.0f, 4.0f);
    BuildTranslationMatrix(&b, 1.0f, 2.0f, 3.0f);
    MultiplyMatrices(&product, &a, &b);
    const float* f = reinterpret_cast<const float*>(&product);  // row by row
    if (f[12] != 1.0f || f[0] != 2.0f) return 1;
#endif
    std::printf("consumer ok\n");
    return 0;
}
