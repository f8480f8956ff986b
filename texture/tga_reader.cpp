// Not yet readable: every input is refused, so ReadImageFile moves on.
#include "texture/image_readers.h"

HRESULT ReadTgaImage(ImageLevel*, const BYTE*, UINT) { return E_FAIL; }
