// Not yet readable: every input is refused, so ReadImageFile moves on.
#include "texture/image_readers.h"

HRESULT ReadHdrImage(ImageLevel*, const BYTE*, UINT) { return E_FAIL; }
