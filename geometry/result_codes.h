// The support libraries' own result codes (facility 0x876, from 2900 on),
// shared by the geometry and texture libraries.
#pragma once

#include "platform/win32/types.h"

inline constexpr HRESULT ERR_CANNOT_ATTRIBUTE_SORT = static_cast<HRESULT>(0x88760B56);
inline constexpr HRESULT ERR_INVALID_DATA = static_cast<HRESULT>(0x88760B59);
inline constexpr HRESULT ERR_MESH_HAS_NO_DATA = static_cast<HRESULT>(0x88760B5A);
