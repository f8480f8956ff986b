// The template definitions a ".x" mesh reader registers with the file
// component before opening a file, as three complete text ".x" files, and the
// identifiers of the templates that are not in dxfile.h. Register them in this
// order with IDirectXFile::RegisterTemplates(block, sizeof block - 1), or use
// the *_BYTES constants.
#pragma once

#include "platform/xfile/dxfile.h"

VINTREL_XFILE_GUID(DXFILEOBJ_XSkinMeshHeader, 0x3CF169CE, 0xFF7C, 0x44AB, 0x93, 0xC0, 0xF7, 0x8F, 0x62, 0xD1, 0x72, 0xE2);
VINTREL_XFILE_GUID(DXFILEOBJ_VertexDuplicationIndices, 0xB8D65549, 0xD7C9, 0x4995, 0x89, 0xCF, 0x53, 0xA9, 0xA8, 0xB0, 0x31, 0xE3);
VINTREL_XFILE_GUID(DXFILEOBJ_FaceAdjacency, 0xA64C844A, 0xE282, 0x4756, 0x8B, 0x80, 0x25, 0x0C, 0xDE, 0x04, 0x39, 0x8C);
VINTREL_XFILE_GUID(DXFILEOBJ_SkinWeights, 0x6F0D123B, 0xBAD2, 0x4167, 0xA0, 0xD0, 0x80, 0x22, 0x4F, 0x25, 0xFA, 0xBB);
VINTREL_XFILE_GUID(DXFILEOBJ_Patch, 0xA3EB5D44, 0xFC22, 0x429D, 0x9A, 0xFB, 0x32, 0x21, 0xCB, 0x97, 0x19, 0xA6);
VINTREL_XFILE_GUID(DXFILEOBJ_PatchMesh, 0xD02C95CC, 0xEDBA, 0x4305, 0x9B, 0x5D, 0x18, 0x20, 0xD7, 0x70, 0x4B, 0xBF);
VINTREL_XFILE_GUID(DXFILEOBJ_PatchMesh9, 0xB9EC94E1, 0xB9A6, 0x4251, 0xBA, 0x18, 0x94, 0x89, 0x3F, 0x02, 0xC0, 0xEA);
VINTREL_XFILE_GUID(DXFILEOBJ_EffectFloats, 0xF1CFE2B3, 0x0DE3, 0x4E28, 0xAF, 0xA1, 0x15, 0x5A, 0x75, 0x0A, 0x28, 0x2D);
VINTREL_XFILE_GUID(DXFILEOBJ_EffectString, 0xD55B097E, 0xBDB6, 0x4C52, 0xB0, 0x3D, 0x60, 0x51, 0xC8, 0x9D, 0x0E, 0x42);
VINTREL_XFILE_GUID(DXFILEOBJ_EffectDWord, 0x622C0ED0, 0x956E, 0x4DA9, 0x90, 0x8A, 0x2A, 0xF9, 0x4F, 0x3C, 0xE7, 0x16);
VINTREL_XFILE_GUID(DXFILEOBJ_EffectParamFloats, 0x3014B9A0, 0x62F5, 0x478C, 0x9B, 0x86, 0xE4, 0xAC, 0x9F, 0x4E, 0x41, 0x8B);
VINTREL_XFILE_GUID(DXFILEOBJ_EffectParamString, 0x1DBC4C88, 0x94C1, 0x46EE, 0x90, 0x76, 0x2C, 0x28, 0x81, 0x8C, 0x94, 0x81);
VINTREL_XFILE_GUID(DXFILEOBJ_EffectParamDWord, 0xE13963BC, 0xAE51, 0x4C5D, 0xB0, 0x0F, 0xCF, 0xA3, 0xA9, 0xD9, 0x7C, 0xE5);
VINTREL_XFILE_GUID(DXFILEOBJ_EffectInstance, 0xE331F7E4, 0x0559, 0x4CC2, 0x8E, 0x99, 0x1C, 0xEC, 0x16, 0x57, 0x92, 0x8F);
VINTREL_XFILE_GUID(DXFILEOBJ_AnimTicksPerSecond, 0x9E415A43, 0x7BA6, 0x4A73, 0x87, 0x43, 0xB7, 0x3D, 0x47, 0xE8, 0x84, 0x76);
VINTREL_XFILE_GUID(DXFILEOBJ_FVFData, 0xB6E70A0E, 0x8EF9, 0x4E83, 0x94, 0xAD, 0xEC, 0xC8, 0xB0, 0xC0, 0x48, 0x97);
VINTREL_XFILE_GUID(DXFILEOBJ_VertexElement, 0xF752461C, 0x1E23, 0x48F6, 0xB9, 0xF8, 0x83, 0x50, 0x85, 0x0F, 0x33, 0x6F);
VINTREL_XFILE_GUID(DXFILEOBJ_DeclData, 0xBF22E553, 0x292C, 0x4781, 0x9F, 0xEA, 0x62, 0xBD, 0x55, 0x4B, 0xDD, 0x93);
VINTREL_XFILE_GUID(DXFILEOBJ_PMAttributeRange, 0x917E0427, 0xC61E, 0x4A14, 0x9C, 0x64, 0xAF, 0xE6, 0x5F, 0x9E, 0x98, 0x44);
VINTREL_XFILE_GUID(DXFILEOBJ_PMVSplitRecord, 0x574CCC14, 0xF0B3, 0x4333, 0x82, 0x2D, 0x93, 0xE8, 0xA8, 0xA0, 0x8E, 0x4C);
VINTREL_XFILE_GUID(DXFILEOBJ_PMInfo, 0xB6C3E656, 0xEC8B, 0x4B92, 0x9B, 0x62, 0x68, 0x16, 0x59, 0x52, 0x29, 0x47);

// The standard templates: frames, meshes and their parts, materials,
// animation, and the small helpers they are built from.
inline constexpr char XTEMPLATES_STANDARD[] = R"(xof 0303txt 0032
template Header {
 <3D82AB43-62DA-11CF-AB39-0020AF71E433>
 WORD major;
 WORD minor;
 DWORD flags;
}
template Vector {
 <3D82AB5E-62DA-11CF-AB39-0020AF71E433>
 FLOAT x;
 FLOAT y;
 FLOAT z;
}
template Coords2d {
 <F6F23F44-7686-11CF-8F52-0040333594A3>
 FLOAT u;
 FLOAT v;
}
template Matrix4x4 {
 <F6F23F45-7686-11CF-8F52-0040333594A3>
 array FLOAT matrix[16];
}
template ColorRGBA {
 <35FF44E0-6C7C-11CF-8F52-0040333594A3>
 FLOAT red;
 FLOAT green;
 FLOAT blue;
 FLOAT alpha;
}
template ColorRGB {
 <D3E16E81-7835-11CF-8F52-0040333594A3>
 FLOAT red;
 FLOAT green;
 FLOAT blue;
}
template IndexedColor {
 <1630B820-7842-11CF-8F52-0040333594A3>
 DWORD index;
 ColorRGBA indexColor;
}
template Boolean {
 <4885AE61-78E8-11CF-8F52-0040333594A3>
 WORD truefalse;
}
template Boolean2d {
 <4885AE63-78E8-11CF-8F52-0040333594A3>
 Boolean u;
 Boolean v;
}
template MaterialWrap {
 <4885AE60-78E8-11CF-8F52-0040333594A3>
 Boolean u;
 Boolean v;
}
template TextureFilename {
 <A42790E1-7810-11CF-8F52-0040333594A3>
 STRING filename;
}
template Material {
 <3D82AB4D-62DA-11CF-AB39-0020AF71E433>
 ColorRGBA faceColor;
 FLOAT power;
 ColorRGB specularColor;
 ColorRGB emissiveColor;
 [...]
}
template MeshFace {
 <3D82AB5F-62DA-11CF-AB39-0020AF71E433>
 DWORD nFaceVertexIndices;
 array DWORD faceVertexIndices[nFaceVertexIndices];
}
template MeshFaceWraps {
 <4885AE62-78E8-11CF-8F52-0040333594A3>
 DWORD nFaceWrapValues;
 array Boolean2d faceWrapValues[nFaceWrapValues];
}
template MeshTextureCoords {
 <F6F23F40-7686-11CF-8F52-0040333594A3>
 DWORD nTextureCoords;
 array Coords2d textureCoords[nTextureCoords];
}
template MeshMaterialList {
 <F6F23F42-7686-11CF-8F52-0040333594A3>
 DWORD nMaterials;
 DWORD nFaceIndexes;
 array DWORD faceIndexes[nFaceIndexes];
 [Material <3D82AB4D-62DA-11CF-AB39-0020AF71E433>]
}
template MeshNormals {
 <F6F23F43-7686-11CF-8F52-0040333594A3>
 DWORD nNormals;
 array Vector normals[nNormals];
 DWORD nFaceNormals;
 array MeshFace faceNormals[nFaceNormals];
}
template MeshVertexColors {
 <1630B821-7842-11CF-8F52-0040333594A3>
 DWORD nVertexColors;
 array IndexedColor vertexColors[nVertexColors];
}
template Mesh {
 <3D82AB44-62DA-11CF-AB39-0020AF71E433>
 DWORD nVertices;
 array Vector vertices[nVertices];
 DWORD nFaces;
 array MeshFace faces[nFaces];
 [...]
}
template FrameTransformMatrix {
 <F6F23F41-7686-11CF-8F52-0040333594A3>
 Matrix4x4 frameMatrix;
}
template Frame {
 <3D82AB46-62DA-11CF-AB39-0020AF71E433>
 [...]
}
template FloatKeys {
 <10DD46A9-775B-11CF-8F52-0040333594A3>
 DWORD nValues;
 array FLOAT values[nValues];
}
template TimedFloatKeys {
 <F406B180-7B3B-11CF-8F52-0040333594A3>
 DWORD time;
 FloatKeys tfkeys;
}
template AnimationKey {
 <10DD46A8-775B-11CF-8F52-0040333594A3>
 DWORD keyType;
 DWORD nKeys;
 array TimedFloatKeys keys[nKeys];
}
template AnimationOptions {
 <E2BF56C0-840F-11CF-8F52-0040333594A3>
 DWORD openclosed;
 DWORD positionquality;
}
template Animation {
 <3D82AB4F-62DA-11CF-AB39-0020AF71E433>
 [...]
}
template AnimationSet {
 <3D82AB50-62DA-11CF-AB39-0020AF71E433>
 [Animation <3D82AB4F-62DA-11CF-AB39-0020AF71E433>]
}
template InlineData {
 <3A23EEA0-94B1-11D0-AB39-0020AF71E433>
 [BINARY]
}
template Url {
 <3A23EEA1-94B1-11D0-AB39-0020AF71E433>
 DWORD nUrls;
 array STRING urls[nUrls];
}
template ProgressiveMesh {
 <8A63C360-997D-11D0-941C-0080C80CFA7B>
 [Url <3A23EEA1-94B1-11D0-AB39-0020AF71E433>, InlineData <3A23EEA0-94B1-11D0-AB39-0020AF71E433>]
}
template Guid {
 <A42790E0-7810-11CF-8F52-0040333594A3>
 DWORD data1;
 WORD data2;
 WORD data3;
 array UCHAR data4[8];
}
template StringProperty {
 <7F0F21E0-BFE1-11D1-82C0-00A0C9697271>
 STRING key;
 STRING value;
}
template PropertyBag {
 <7F0F21E1-BFE1-11D1-82C0-00A0C9697271>
 [StringProperty <7F0F21E0-BFE1-11D1-82C0-00A0C9697271>]
}
template ExternalVisual {
 <98116AA0-BDBA-11D1-82C0-00A0C9697271>
 Guid guidExternalVisual;
 [...]
}
template RightHanded {
 <7F5D5EA0-D53A-11D1-82C0-00A0C9697271>
 DWORD bRightHanded;
}
)";

// Skinning, patches, effect parameters and the animation tick rate.
inline constexpr char XTEMPLATES_SKIN_EFFECT[] = R"(xof 0303txt 0032
template XSkinMeshHeader {
 <3CF169CE-FF7C-44AB-93C0-F78F62D172E2>
 WORD nMaxSkinWeightsPerVertex;
 WORD nMaxSkinWeightsPerFace;
 WORD nBones;
}
template VertexDuplicationIndices {
 <B8D65549-D7C9-4995-89CF-53A9A8B031E3>
 DWORD nIndices;
 DWORD nOriginalVertices;
 array DWORD indices[nIndices];
}
template FaceAdjacency {
 <A64C844A-E282-4756-8B80-250CDE04398C>
 DWORD nIndices;
 array DWORD indices[nIndices];
}
template SkinWeights {
 <6F0D123B-BAD2-4167-A0D0-80224F25FABB>
 STRING transformNodeName;
 DWORD nWeights;
 array DWORD vertexIndices[nWeights];
 array FLOAT weights[nWeights];
 Matrix4x4 matrixOffset;
}
template Patch {
 <A3EB5D44-FC22-429D-9AFB-3221CB9719A6>
 DWORD nControlIndices;
 array DWORD controlIndices[nControlIndices];
}
template PatchMesh {
 <D02C95CC-EDBA-4305-9B5D-1820D7704BBF>
 DWORD nVertices;
 array Vector vertices[nVertices];
 DWORD nPatches;
 array Patch patches[nPatches];
 [...]
}
template PatchMesh9 {
 <B9EC94E1-B9A6-4251-BA18-94893F02C0EA>
 DWORD Type;
 DWORD Degree;
 DWORD Basis;
 DWORD nVertices;
 array Vector vertices[nVertices];
 DWORD nPatches;
 array Patch patches[nPatches];
 [...]
}
template EffectFloats {
 <F1CFE2B3-0DE3-4E28-AFA1-155A750A282D>
 DWORD nFloats;
 array FLOAT Floats[nFloats];
}
template EffectString {
 <D55B097E-BDB6-4C52-B03D-6051C89D0E42>
 STRING Value;
}
template EffectDWord {
 <622C0ED0-956E-4DA9-908A-2AF94F3CE716>
 DWORD Value;
}
template EffectParamFloats {
 <3014B9A0-62F5-478C-9B86-E4AC9F4E418B>
 STRING ParamName;
 DWORD nFloats;
 array FLOAT Floats[nFloats];
}
template EffectParamString {
 <1DBC4C88-94C1-46EE-9076-2C28818C9481>
 STRING ParamName;
 STRING Value;
}
template EffectParamDWord {
 <E13963BC-AE51-4C5D-B00F-CFA3A9D97CE5>
 STRING ParamName;
 DWORD Value;
}
template EffectInstance {
 <E331F7E4-0559-4CC2-8E99-1CEC1657928F>
 STRING EffectFilename;
 [...]
}
template AnimTicksPerSecond {
 <9E415A43-7BA6-4A73-8743-B73D47E88476>
 DWORD AnimTicksPerSecond;
}
)";

// Vertex formats and declarations stored with a mesh, and progressive-mesh
// records.
inline constexpr char XTEMPLATES_EXTENDED[] = R"(xof 0303txt 0032
template FVFData {
 <B6E70A0E-8EF9-4E83-94AD-ECC8B0C04897>
 DWORD dwFVF;
 DWORD nDWords;
 array DWORD data[nDWords];
}
template VertexElement {
 <F752461C-1E23-48F6-B9F8-8350850F336F>
 DWORD Type;
 DWORD Method;
 DWORD Usage;
 DWORD UsageIndex;
}
template DeclData {
 <BF22E553-292C-4781-9FEA-62BD554BDD93>
 DWORD nElements;
 array VertexElement Elements[nElements];
 DWORD nDWords;
 array DWORD data[nDWords];
}
template PMAttributeRange {
 <917E0427-C61E-4A14-9C64-AFE65F9E9844>
 DWORD iFaceOffset;
 DWORD nFacesMin;
 DWORD nFacesMax;
 DWORD iVertexOffset;
 DWORD nVerticesMin;
 DWORD nVerticesMax;
}
template PMVSplitRecord {
 <574CCC14-F0B3-4333-822D-93E8A8A08E4C>
 DWORD iFaceCLW;
 DWORD iVlrOffset;
 DWORD iCode;
}
template PMInfo {
 <B6C3E656-EC8B-4B92-9B62-681659522947>
 DWORD nAttributes;
 array PMAttributeRange attributeRanges[nAttributes];
 DWORD nMaxValence;
 DWORD nMinLogicalVertices;
 DWORD nMaxLogicalVertices;
 DWORD nVSplits;
 array PMVSplitRecord splitRecords[nVSplits];
 DWORD nAttributeMispredicts;
 array DWORD attributeMispredicts[nAttributeMispredicts];
}
)";

inline constexpr DWORD XTEMPLATES_STANDARD_BYTES = sizeof XTEMPLATES_STANDARD - 1;
inline constexpr DWORD XTEMPLATES_SKIN_EFFECT_BYTES = sizeof XTEMPLATES_SKIN_EFFECT - 1;
inline constexpr DWORD XTEMPLATES_EXTENDED_BYTES = sizeof XTEMPLATES_EXTENDED - 1;
