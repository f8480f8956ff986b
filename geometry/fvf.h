// Flexible vertex format codes and vertex declarations: conversion from an
// FVF code to declaration elements and back, element sizes, vertex sizes.
#pragma once

#include "platform/d3d9/d3d9.h"

// Entries of an element array including the terminator.
inline constexpr UINT MAX_DECLARATION_ELEMENTS = MAXD3DDECLLENGTH + 1;

// Fills `elements` (room for MAX_DECLARATION_ELEMENTS) with the declaration
// equivalent to `fvf`. D3DERR_INVALIDCALL for reserved bits, more than eight
// texture sets or five betas without an index flag.
HRESULT FvfToDeclaration(DWORD fvf, D3DVERTEXELEMENT9* elements);

// Bytes per vertex of an FVF code; 0 for a position code it does not know.
DWORD GetFvfVertexSize(DWORD fvf);

// Bytes of one element of a declaration type; 0 for D3DDECLTYPE_UNUSED and
// unknown types.
UINT DeclarationTypeSize(BYTE type);

// Elements before the terminator, or -1 when there is none within
// MAX_DECLARATION_ELEMENTS entries or an element is malformed (stream other
// than 0, unknown type, method or usage).
int DeclarationLength(const D3DVERTEXELEMENT9* elements);

// Largest Offset + size over the elements (the list must be valid).
UINT DeclarationStride(const D3DVERTEXELEMENT9* elements);

// The FVF code whose declaration equals `elements` exactly, or 0.
DWORD FvfFromDeclaration(const D3DVERTEXELEMENT9* elements);

// The first element of the usage and usage index, or null.
const D3DVERTEXELEMENT9* FindElement(const D3DVERTEXELEMENT9* elements, BYTE usage, BYTE usageIndex);

// The position element when it can be read as a point (FLOAT3 or FLOAT4),
// else null.
const D3DVERTEXELEMENT9* FindPointPosition(const D3DVERTEXELEMENT9* elements);
