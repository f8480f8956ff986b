// The DirectX file component: reads ".x" files (text, binary and
// MSZIP-compressed) into data objects packed by their templates. It lives in
// its own shared library, found at run time with LoadLibraryA("xfile.dll")
// and GetProcAddress(module, "DirectXFileCreate").
//
// Everything a file says is untrusted: malformed files fail with a
// DXFILEERR_* code. Packed data is little-endian without padding; a string
// member is a pointer (of this platform's size) to a NUL-terminated UTF-8
// string owned by the data object, and FLOAT members are 32-bit whatever the
// file's float size. Pointers handed out stay valid while the object lives.
#pragma once

#include "platform/win32/types.h"
#include "platform/win32/unknown.h"

using DXFILEFORMAT = DWORD;
constexpr DXFILEFORMAT DXFILEFORMAT_BINARY = 0;
constexpr DXFILEFORMAT DXFILEFORMAT_TEXT = 1;
constexpr DXFILEFORMAT DXFILEFORMAT_COMPRESSED = 2;

using DXFILELOADOPTIONS = DWORD;
constexpr DXFILELOADOPTIONS DXFILELOAD_FROMFILE = 0x00;
constexpr DXFILELOADOPTIONS DXFILELOAD_FROMRESOURCE = 0x01;
constexpr DXFILELOADOPTIONS DXFILELOAD_FROMMEMORY = 0x02;
constexpr DXFILELOADOPTIONS DXFILELOAD_FROMSTREAM = 0x04;
constexpr DXFILELOADOPTIONS DXFILELOAD_FROMURL = 0x08;

// Source description for DXFILELOAD_FROMMEMORY: the whole file's bytes.
struct DXFILELOADMEMORY {
    LPVOID lpMemory;
    DWORD dSize;
};
using LPDXFILELOADMEMORY = DXFILELOADMEMORY*;

// Result codes of the component (facility 0x876, codes 850 onwards).
constexpr HRESULT MAKE_DXFILEHRESULT(unsigned code) { return MAKE_HRESULT(1, 0x876, code); }
constexpr HRESULT DXFILE_OK = 0;
constexpr HRESULT DXFILEERR_BADOBJECT = MAKE_DXFILEHRESULT(850);
constexpr HRESULT DXFILEERR_BADVALUE = MAKE_DXFILEHRESULT(851);
constexpr HRESULT DXFILEERR_BADTYPE = MAKE_DXFILEHRESULT(852);
constexpr HRESULT DXFILEERR_BADSTREAMHANDLE = MAKE_DXFILEHRESULT(853);
constexpr HRESULT DXFILEERR_BADALLOC = MAKE_DXFILEHRESULT(854);
constexpr HRESULT DXFILEERR_NOTFOUND = MAKE_DXFILEHRESULT(855);
constexpr HRESULT DXFILEERR_NOTDONEYET = MAKE_DXFILEHRESULT(856);
constexpr HRESULT DXFILEERR_FILENOTFOUND = MAKE_DXFILEHRESULT(857);
constexpr HRESULT DXFILEERR_RESOURCENOTFOUND = MAKE_DXFILEHRESULT(858);
constexpr HRESULT DXFILEERR_URLNOTFOUND = MAKE_DXFILEHRESULT(859);
constexpr HRESULT DXFILEERR_BADRESOURCE = MAKE_DXFILEHRESULT(860);
constexpr HRESULT DXFILEERR_BADFILETYPE = MAKE_DXFILEHRESULT(861);
constexpr HRESULT DXFILEERR_BADFILEVERSION = MAKE_DXFILEHRESULT(862);
constexpr HRESULT DXFILEERR_BADFILEFLOATSIZE = MAKE_DXFILEHRESULT(863);
constexpr HRESULT DXFILEERR_BADFILECOMPRESSIONTYPE = MAKE_DXFILEHRESULT(864);
constexpr HRESULT DXFILEERR_BADFILE = MAKE_DXFILEHRESULT(865);
constexpr HRESULT DXFILEERR_PARSEERROR = MAKE_DXFILEHRESULT(866);
constexpr HRESULT DXFILEERR_NOTEMPLATE = MAKE_DXFILEHRESULT(867);
constexpr HRESULT DXFILEERR_BADARRAYSIZE = MAKE_DXFILEHRESULT(868);
constexpr HRESULT DXFILEERR_BADDATAREFERENCE = MAKE_DXFILEHRESULT(869);
constexpr HRESULT DXFILEERR_INTERNALERROR = MAKE_DXFILEHRESULT(870);
constexpr HRESULT DXFILEERR_NOMOREOBJECTS = MAKE_DXFILEHRESULT(871);
constexpr HRESULT DXFILEERR_BADINTRINSICS = MAKE_DXFILEHRESULT(872);
constexpr HRESULT DXFILEERR_NOMORESTREAMHANDLES = MAKE_DXFILEHRESULT(873);
constexpr HRESULT DXFILEERR_NOMOREDATA = MAKE_DXFILEHRESULT(874);
constexpr HRESULT DXFILEERR_BADCACHEFILE = MAKE_DXFILEHRESULT(875);
constexpr HRESULT DXFILEERR_NOINTERNET = MAKE_DXFILEHRESULT(876);

// Interface identifiers.
// {3D82AB40-62DA-11CF-AB39-0020AF71E433}
inline constexpr IID IID_IDirectXFile = {0x3D82AB40, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
// {3D82AB41-62DA-11CF-AB39-0020AF71E433}
inline constexpr IID IID_IDirectXFileEnumObject = {0x3D82AB41, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
// {3D82AB43-62DA-11CF-AB39-0020AF71E433}
inline constexpr IID IID_IDirectXFileObject = {0x3D82AB43, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
// {3D82AB44-62DA-11CF-AB39-0020AF71E433}
inline constexpr IID IID_IDirectXFileData = {0x3D82AB44, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
// {3D82AB45-62DA-11CF-AB39-0020AF71E433}
inline constexpr IID IID_IDirectXFileDataReference = {0x3D82AB45, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
// {3D82AB46-62DA-11CF-AB39-0020AF71E433}
inline constexpr IID IID_IDirectXFileBinary = {0x3D82AB46, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};

struct IDirectXFile;
struct IDirectXFileEnumObject;
struct IDirectXFileObject;
struct IDirectXFileData;
struct IDirectXFileDataReference;
struct IDirectXFileBinary;
using LPDIRECTXFILE = IDirectXFile*;
using LPDIRECTXFILEENUMOBJECT = IDirectXFileEnumObject*;
using LPDIRECTXFILEOBJECT = IDirectXFileObject*;
using LPDIRECTXFILEDATA = IDirectXFileData*;
using LPDIRECTXFILEDATAREFERENCE = IDirectXFileDataReference*;
using LPDIRECTXFILEBINARY = IDirectXFileBinary*;

// The file object: a set of registered templates and a factory of
// enumerators over files.
struct IDirectXFile : IUnknown {
    // pvSource: the file name (DXFILELOAD_FROMFILE) or a DXFILELOADMEMORY*
    // (DXFILELOAD_FROMMEMORY). The whole file is read and checked here; a
    // bad file fails with its DXFILEERR_* code and no enumerator. Templates
    // the file defines serve that file only.
    virtual HRESULT CreateEnumObject(LPVOID pvSource, DXFILELOADOPTIONS dwLoadOptions,
                                     LPDIRECTXFILEENUMOBJECT* ppEnumObj) = 0;
    // pvData: a whole ".x" file of cbSize bytes holding template
    // definitions; they are added (all or none) for later enumerators.
    virtual HRESULT RegisterTemplates(LPVOID pvData, DWORD cbSize) = 0;

protected:
    ~IDirectXFile() = default;
};

// Walks the top-level data objects of one file, in file order.
struct IDirectXFileEnumObject : IUnknown {
    // DXFILEERR_NOMOREOBJECTS after the last object.
    virtual HRESULT GetNextDataObject(LPDIRECTXFILEDATA* ppDataObj) = 0;
    // The first object of the file (at any depth, in file order) with this
    // identifier or name; DXFILEERR_NOTFOUND when there is none.
    virtual HRESULT GetDataObjectById(REFGUID rguid, LPDIRECTXFILEDATA* ppDataObj) = 0;
    virtual HRESULT GetDataObjectByName(LPCSTR szName, LPDIRECTXFILEDATA* ppDataObj) = 0;

protected:
    ~IDirectXFileEnumObject() = default;
};

// What every object of a file has: an optional name and identifier.
struct IDirectXFileObject : IUnknown {
    // With a null buffer, *pdwBufLen receives the size the name needs
    // (terminator included); a buffer too small gives DXFILEERR_BADVALUE.
    // An unnamed object has the empty name.
    virtual HRESULT GetName(LPSTR pstrNameBuf, LPDWORD pdwBufLen) = 0;
    // The zero GUID when the object has none.
    virtual HRESULT GetId(LPGUID pGuid) = 0;

protected:
    ~IDirectXFileObject() = default;
};

struct IDirectXFileData : IDirectXFileObject {
    // szMember null: the whole object packed by its template; otherwise the
    // named top-level member (DXFILEERR_NOTFOUND when the template has none).
    virtual HRESULT GetData(LPCSTR szMember, DWORD* pcbSize, void** ppvData) = 0;
    // The identifier of the object's template.
    virtual HRESULT GetType(const GUID** ppguid) = 0;
    // The next child (a data object or a data reference), in file order;
    // DXFILEERR_NOMOREOBJECTS after the last one.
    virtual HRESULT GetNextObject(LPDIRECTXFILEOBJECT* ppChildObj) = 0;

protected:
    ~IDirectXFileData() = default;
};

// A child written as a reference to an object elsewhere in the file.
struct IDirectXFileDataReference : IDirectXFileObject {
    virtual HRESULT Resolve(LPDIRECTXFILEDATA* ppDataObj) = 0;

protected:
    ~IDirectXFileDataReference() = default;
};

// A binary blob child (templates restricted to [BINARY]).
struct IDirectXFileBinary : IDirectXFileObject {
    virtual HRESULT GetSize(DWORD* pcbSize) = 0;
    virtual HRESULT GetMimeType(LPCSTR* pszMimeType) = 0;
    virtual HRESULT Read(LPVOID pvData, DWORD cbSize, LPDWORD pcbRead) = 0;

protected:
    ~IDirectXFileBinary() = default;
};

// The module's one export. Creates a file object with no templates
// registered; the caller owns one reference.
extern "C" HRESULT DirectXFileCreate(LPDIRECTXFILE* lplpDirectXFile);
using DirectXFileCreateFunction = HRESULT (*)(LPDIRECTXFILE*);

// Identifiers of the standard templates.
#define VINTREL_XFILE_GUID(name, a, b, c, d0, d1, d2, d3, d4, d5, d6, d7) \
    inline constexpr GUID name = {a, b, c, {d0, d1, d2, d3, d4, d5, d6, d7}}
VINTREL_XFILE_GUID(TID_DXFILEHeader, 0x3D82AB43, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
VINTREL_XFILE_GUID(TID_D3DRMMesh, 0x3D82AB44, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
VINTREL_XFILE_GUID(TID_D3DRMVector, 0x3D82AB5E, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
VINTREL_XFILE_GUID(TID_D3DRMMeshFace, 0x3D82AB5F, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
VINTREL_XFILE_GUID(TID_D3DRMMaterial, 0x3D82AB4D, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
VINTREL_XFILE_GUID(TID_D3DRMFrame, 0x3D82AB46, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
VINTREL_XFILE_GUID(TID_D3DRMFrameTransformMatrix, 0xF6F23F41, 0x7686, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMMeshMaterialList, 0xF6F23F42, 0x7686, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMMeshTextureCoords, 0xF6F23F40, 0x7686, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMMeshNormals, 0xF6F23F43, 0x7686, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMCoords2d, 0xF6F23F44, 0x7686, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMMatrix4x4, 0xF6F23F45, 0x7686, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMAnimation, 0x3D82AB4F, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
VINTREL_XFILE_GUID(TID_D3DRMAnimationSet, 0x3D82AB50, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
VINTREL_XFILE_GUID(TID_D3DRMAnimationKey, 0x10DD46A8, 0x775B, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMFloatKeys, 0x10DD46A9, 0x775B, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMTimedFloatKeys, 0xF406B180, 0x7B3B, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMAnimationOptions, 0xE2BF56C0, 0x840F, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMColorRGBA, 0x35FF44E0, 0x6C7C, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMColorRGB, 0xD3E16E81, 0x7835, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMIndexedColor, 0x1630B820, 0x7842, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMMeshVertexColors, 0x1630B821, 0x7842, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMTextureFilename, 0xA42790E1, 0x7810, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMGuid, 0xA42790E0, 0x7810, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMMaterialWrap, 0x4885AE60, 0x78E8, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMBoolean, 0x4885AE61, 0x78E8, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMMeshFaceWraps, 0x4885AE62, 0x78E8, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMBoolean2d, 0x4885AE63, 0x78E8, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3);
VINTREL_XFILE_GUID(TID_D3DRMInlineData, 0x3A23EEA0, 0x94B1, 0x11D0, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
VINTREL_XFILE_GUID(TID_D3DRMUrl, 0x3A23EEA1, 0x94B1, 0x11D0, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33);
VINTREL_XFILE_GUID(TID_D3DRMProgressiveMesh, 0x8A63C360, 0x997D, 0x11D0, 0x94, 0x1C, 0x00, 0x80, 0xC8, 0x0C, 0xFA, 0x7B);
VINTREL_XFILE_GUID(TID_D3DRMExternalVisual, 0x98116AA0, 0xBDBA, 0x11D1, 0x82, 0xC0, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x71);
VINTREL_XFILE_GUID(TID_D3DRMStringProperty, 0x7F0F21E0, 0xBFE1, 0x11D1, 0x82, 0xC0, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x71);
VINTREL_XFILE_GUID(TID_D3DRMPropertyBag, 0x7F0F21E1, 0xBFE1, 0x11D1, 0x82, 0xC0, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x71);
VINTREL_XFILE_GUID(TID_D3DRMRightHanded, 0x7F5D5EA0, 0xD53A, 0x11D1, 0x82, 0xC0, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x71);
