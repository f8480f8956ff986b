// Loading a mesh and its materials from a DirectX ".x" model file through
// the platform's .x file component ("xfile.dll").
#pragma once

#include "geometry/mesh.h"
#include "geometry/mesh_build.h"

// Loads every mesh of the file (frame transforms applied, meshes merged)
// into one mesh sorted by attribute. Outputs other than `mesh` may be null;
// on success the caller owns one reference to each object returned. A
// file without materials gets one grey default material. The file is
// untrusted: every size and count is checked.
HRESULT LoadMeshFromXFile(const char* fileName, DWORD options, IDirect3DDevice9* device, DataBuffer** adjacency,
                          DataBuffer** materials, DataBuffer** effectInstances, DWORD* materialCount, Mesh** mesh);

// The same from a ".x" file held in memory.
HRESULT LoadMeshFromXMemory(const void* bytes, DWORD size, DWORD options, IDirect3DDevice9* device,
                            DataBuffer** adjacency, DataBuffer** materials, DataBuffer** effectInstances,
                            DWORD* materialCount, Mesh** mesh);
