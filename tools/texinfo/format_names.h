// D3DFMT_ names of the formats the texture library knows, both ways.
#pragma once

#include "platform/d3d9/d3d9.h"

// "D3DFMT_A8R8G8B8", or "0x<hex>" for a format without a name here.
const char* FormatName(D3DFORMAT format, char (&buffer)[16]);
// The format of a name ("D3DFMT_DXT1", also without the prefix, any case);
// false for a name it does not know.
bool FormatFromName(const char* name, D3DFORMAT* format);
