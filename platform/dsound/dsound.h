// The DirectSound 8 programming interface: the device object, the primary
// buffer and secondary sound buffers, mixed in software into the primary
// buffer's format and played through the machine's audio output.
//
// Secondary buffers hold PCM data (8 or 16 bits, one or two channels) and
// play at an absolute rate in samples per second (DSBFREQUENCY_MIN ...
// DSBFREQUENCY_MAX); volume is attenuation in hundredths of a decibel
// (DSBVOLUME_MIN ... 0), pan likewise per side. Stop keeps the play
// position; a buffer played without DSBPLAY_LOOPING stops at its end and
// goes back to its start. Buffers play once the device has a cooperative
// level; setting the primary format needs DSSCL_PRIORITY.
#pragma once

#include "platform/win32/mmio.h"
#include "platform/win32/types.h"
#include "platform/win32/unknown.h"

using LPCGUID = const GUID*;

// {C50A7E93-F395-4834-9EF6-7FA99DE50966}
inline constexpr IID IID_IDirectSound8 = {
    0xC50A7E93, 0xF395, 0x4834, {0x9E, 0xF6, 0x7F, 0xA9, 0x9D, 0xE5, 0x09, 0x66}};
// {279AFA83-4981-11CE-A521-0020AF0BE560}
inline constexpr IID IID_IDirectSound = {
    0x279AFA83, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
// {279AFA85-4981-11CE-A521-0020AF0BE560}
inline constexpr IID IID_IDirectSoundBuffer = {
    0x279AFA85, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
// {6825A449-7524-4D82-920F-50E36AB3AB1E}
inline constexpr IID IID_IDirectSoundBuffer8 = {
    0x6825A449, 0x7524, 0x4D82, {0x92, 0x0F, 0x50, 0xE3, 0x6A, 0xB3, 0xAB, 0x1E}};
// {279AFA86-4981-11CE-A521-0020AF0BE560}
inline constexpr IID IID_IDirectSound3DBuffer = {
    0x279AFA86, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
// {DEF00000-9C6D-47ED-AAF1-4DDA8F2B5C03}
inline constexpr GUID DSDEVID_DefaultPlayback = {
    0xDEF00000, 0x9C6D, 0x47ED, {0xAA, 0xF1, 0x4D, 0xDA, 0x8F, 0x2B, 0x5C, 0x03}};
// {00000000-0000-0000-0000-000000000000}
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID DS3DALG_DEFAULT = GUID_NULL;

// Result codes.
constexpr HRESULT MAKE_DSHRESULT(unsigned code) { return MAKE_HRESULT(1, 0x878, code); }
constexpr HRESULT DS_OK = S_OK;
constexpr HRESULT DS_NO_VIRTUALIZATION = MAKE_HRESULT(0, 0x878, 10);
constexpr HRESULT DSERR_ALLOCATED = MAKE_DSHRESULT(10);
constexpr HRESULT DSERR_CONTROLUNAVAIL = MAKE_DSHRESULT(30);
constexpr HRESULT DSERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DSERR_INVALIDCALL = MAKE_DSHRESULT(50);
constexpr HRESULT DSERR_GENERIC = E_FAIL;
constexpr HRESULT DSERR_PRIOLEVELNEEDED = MAKE_DSHRESULT(70);
constexpr HRESULT DSERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DSERR_BADFORMAT = MAKE_DSHRESULT(100);
constexpr HRESULT DSERR_UNSUPPORTED = E_NOTIMPL;
constexpr HRESULT DSERR_NODRIVER = MAKE_DSHRESULT(120);
constexpr HRESULT DSERR_ALREADYINITIALIZED = MAKE_DSHRESULT(130);
constexpr HRESULT DSERR_NOAGGREGATION = CLASS_E_NOAGGREGATION;
constexpr HRESULT DSERR_BUFFERLOST = MAKE_DSHRESULT(150);
constexpr HRESULT DSERR_OTHERAPPHASPRIO = MAKE_DSHRESULT(160);
constexpr HRESULT DSERR_UNINITIALIZED = MAKE_DSHRESULT(170);
constexpr HRESULT DSERR_NOINTERFACE = E_NOINTERFACE;
constexpr HRESULT DSERR_ACCESSDENIED = E_ACCESSDENIED;
constexpr HRESULT DSERR_BUFFERTOOSMALL = MAKE_DSHRESULT(180);
constexpr HRESULT DSERR_DS8_REQUIRED = MAKE_DSHRESULT(190);
constexpr HRESULT DSERR_SENDLOOP = MAKE_DSHRESULT(200);
constexpr HRESULT DSERR_BADSENDBUFFERGUID = MAKE_DSHRESULT(210);
constexpr HRESULT DSERR_FXUNAVAILABLE = MAKE_DSHRESULT(220);
constexpr HRESULT DSERR_OBJECTNOTFOUND = MAKE_DSHRESULT(4449);

// Cooperative levels.
constexpr DWORD DSSCL_NORMAL = 0x00000001;
constexpr DWORD DSSCL_PRIORITY = 0x00000002;
constexpr DWORD DSSCL_EXCLUSIVE = 0x00000003;
constexpr DWORD DSSCL_WRITEPRIMARY = 0x00000004;

// Buffer capabilities (DSBUFFERDESC::dwFlags, DSBCAPS::dwFlags).
constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x00000001;
constexpr DWORD DSBCAPS_STATIC = 0x00000002;
constexpr DWORD DSBCAPS_LOCHARDWARE = 0x00000004;
constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x00000008;
constexpr DWORD DSBCAPS_CTRL3D = 0x00000010;
constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x00000020;
constexpr DWORD DSBCAPS_CTRLPAN = 0x00000040;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x00000080;
constexpr DWORD DSBCAPS_CTRLPOSITIONNOTIFY = 0x00000100;
constexpr DWORD DSBCAPS_CTRLFX = 0x00000200;
constexpr DWORD DSBCAPS_STICKYFOCUS = 0x00004000;
constexpr DWORD DSBCAPS_GLOBALFOCUS = 0x00008000;
constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x00010000;
constexpr DWORD DSBCAPS_MUTE3DATMAXDISTANCE = 0x00020000;
constexpr DWORD DSBCAPS_LOCDEFER = 0x00040000;
constexpr DWORD DSBCAPS_TRUEPLAYPOSITION = 0x00080000;

// Play flags.
constexpr DWORD DSBPLAY_LOOPING = 0x00000001;
constexpr DWORD DSBPLAY_LOCHARDWARE = 0x00000002;
constexpr DWORD DSBPLAY_LOCSOFTWARE = 0x00000004;
constexpr DWORD DSBPLAY_TERMINATEBY_TIME = 0x00000008;
constexpr DWORD DSBPLAY_TERMINATEBY_DISTANCE = 0x00000010;
constexpr DWORD DSBPLAY_TERMINATEBY_PRIORITY = 0x00000020;

// Status bits.
constexpr DWORD DSBSTATUS_PLAYING = 0x00000001;
constexpr DWORD DSBSTATUS_BUFFERLOST = 0x00000002;
constexpr DWORD DSBSTATUS_LOOPING = 0x00000004;
constexpr DWORD DSBSTATUS_LOCHARDWARE = 0x00000008;
constexpr DWORD DSBSTATUS_LOCSOFTWARE = 0x00000010;
constexpr DWORD DSBSTATUS_TERMINATED = 0x00000020;

// Lock flags.
constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x00000001;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x00000002;

// Ranges.
constexpr DWORD DSBFREQUENCY_ORIGINAL = 0;
constexpr DWORD DSBFREQUENCY_MIN = 100;
constexpr DWORD DSBFREQUENCY_MAX = 200000;
constexpr LONG DSBPAN_LEFT = -10000;
constexpr LONG DSBPAN_CENTER = 0;
constexpr LONG DSBPAN_RIGHT = 10000;
constexpr LONG DSBVOLUME_MIN = -10000;
constexpr LONG DSBVOLUME_MAX = 0;
constexpr DWORD DSBSIZE_MIN = 4;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;

// Device capabilities (DSCAPS::dwFlags).
constexpr DWORD DSCAPS_PRIMARYMONO = 0x00000001;
constexpr DWORD DSCAPS_PRIMARYSTEREO = 0x00000002;
constexpr DWORD DSCAPS_PRIMARY8BIT = 0x00000004;
constexpr DWORD DSCAPS_PRIMARY16BIT = 0x00000008;
constexpr DWORD DSCAPS_CONTINUOUSRATE = 0x00000010;
constexpr DWORD DSCAPS_EMULDRIVER = 0x00000020;
constexpr DWORD DSCAPS_CERTIFIED = 0x00000040;
constexpr DWORD DSCAPS_SECONDARYMONO = 0x00000100;
constexpr DWORD DSCAPS_SECONDARYSTEREO = 0x00000200;
constexpr DWORD DSCAPS_SECONDARY8BIT = 0x00000400;
constexpr DWORD DSCAPS_SECONDARY16BIT = 0x00000800;

constexpr DWORD DSSPEAKER_STEREO = 0x00000004;
constexpr DWORD DS_CERTIFIED = 0x00000000;
constexpr DWORD DS_UNCERTIFIED = 0x00000001;

struct DSBUFFERDESC {
    DWORD dwSize;  // sizeof(DSBUFFERDESC), or sizeof(DSBUFFERDESC1)
    DWORD dwFlags;
    DWORD dwBufferBytes;  // 0 for the primary buffer
    DWORD dwReserved;
    LPWAVEFORMATEX lpwfxFormat;  // null for the primary buffer
    GUID guid3DAlgorithm;
};
// The same without the 3D algorithm.
struct DSBUFFERDESC1 {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    LPWAVEFORMATEX lpwfxFormat;
};
using LPDSBUFFERDESC = DSBUFFERDESC*;
using LPCDSBUFFERDESC = const DSBUFFERDESC*;

struct DSCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwMinSecondarySampleRate;
    DWORD dwMaxSecondarySampleRate;
    DWORD dwPrimaryBuffers;
    DWORD dwMaxHwMixingAllBuffers;
    DWORD dwMaxHwMixingStaticBuffers;
    DWORD dwMaxHwMixingStreamingBuffers;
    DWORD dwFreeHwMixingAllBuffers;
    DWORD dwFreeHwMixingStaticBuffers;
    DWORD dwFreeHwMixingStreamingBuffers;
    DWORD dwMaxHw3DAllBuffers;
    DWORD dwMaxHw3DStaticBuffers;
    DWORD dwMaxHw3DStreamingBuffers;
    DWORD dwFreeHw3DAllBuffers;
    DWORD dwFreeHw3DStaticBuffers;
    DWORD dwFreeHw3DStreamingBuffers;
    DWORD dwTotalHwMemBytes;
    DWORD dwFreeHwMemBytes;
    DWORD dwMaxContigFreeHwMemBytes;
    DWORD dwUnlockTransferRateHwBuffers;
    DWORD dwPlayCpuOverheadSwBuffers;
    DWORD dwReserved1;
    DWORD dwReserved2;
};
using LPDSCAPS = DSCAPS*;

struct DSBCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwUnlockTransferRate;
    DWORD dwPlayCpuOverhead;
};
using LPDSBCAPS = DSBCAPS*;

struct DSEFFECTDESC {
    DWORD dwSize;
    DWORD dwFlags;
    GUID guidDSFXClass;
    DWORD_PTR dwReserved1;
    DWORD_PTR dwReserved2;
};
using LPDSEFFECTDESC = DSEFFECTDESC*;

struct IDirectSound8;
struct IDirectSoundBuffer;

struct IDirectSoundBuffer : IUnknown {
    virtual HRESULT GetCaps(LPDSBCAPS caps) = 0;
    virtual HRESULT GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) = 0;
    virtual HRESULT GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten) = 0;
    virtual HRESULT GetVolume(LPLONG volume) = 0;
    virtual HRESULT GetPan(LPLONG pan) = 0;
    virtual HRESULT GetFrequency(LPDWORD frequency) = 0;
    virtual HRESULT GetStatus(LPDWORD status) = 0;
    virtual HRESULT Initialize(IDirectSound8* sound, LPCDSBUFFERDESC desc) = 0;
    // Up to two regions: from the offset to the end of the buffer, then
    // from its start when the range wraps. Unlock with the same pointers.
    virtual HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* audio1, LPDWORD bytes1, LPVOID* audio2,
                         LPDWORD bytes2, DWORD flags) = 0;
    virtual HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) = 0;
    virtual HRESULT SetCurrentPosition(DWORD position) = 0;
    virtual HRESULT SetFormat(LPCWAVEFORMATEX format) = 0;
    virtual HRESULT SetVolume(LONG volume) = 0;
    virtual HRESULT SetPan(LONG pan) = 0;
    virtual HRESULT SetFrequency(DWORD frequency) = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Unlock(LPVOID audio1, DWORD bytes1, LPVOID audio2, DWORD bytes2) = 0;
    virtual HRESULT Restore() = 0;

protected:
    ~IDirectSoundBuffer() = default;
};

struct IDirectSoundBuffer8 : IDirectSoundBuffer {
    virtual HRESULT SetFX(DWORD effectsCount, LPDSEFFECTDESC effects, LPDWORD resultCodes) = 0;
    virtual HRESULT AcquireResources(DWORD flags, DWORD effectsCount, LPDWORD resultCodes) = 0;
    virtual HRESULT GetObjectInPath(REFGUID object, DWORD index, REFGUID interface,
                                    LPVOID* out) = 0;

protected:
    ~IDirectSoundBuffer8() = default;
};

struct IDirectSound8 : IUnknown {
    virtual HRESULT CreateSoundBuffer(LPCDSBUFFERDESC desc, IDirectSoundBuffer** buffer,
                                      LPUNKNOWN outer) = 0;
    virtual HRESULT GetCaps(LPDSCAPS caps) = 0;
    virtual HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original,
                                         IDirectSoundBuffer** duplicate) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;
    virtual HRESULT Compact() = 0;
    virtual HRESULT GetSpeakerConfig(LPDWORD config) = 0;
    virtual HRESULT SetSpeakerConfig(DWORD config) = 0;
    virtual HRESULT Initialize(LPCGUID device) = 0;
    virtual HRESULT VerifyCertification(LPDWORD certified) = 0;

protected:
    ~IDirectSound8() = default;
};

using LPDIRECTSOUND8 = IDirectSound8*;
using LPDIRECTSOUNDBUFFER = IDirectSoundBuffer*;
using LPDIRECTSOUNDBUFFER8 = IDirectSoundBuffer8*;

// Opens the default output (null, or DSDEVID_DefaultPlayback). DSERR_NODRIVER
// when no audio output can be opened.
HRESULT DirectSoundCreate8(LPCGUID device, IDirectSound8** sound, LPUNKNOWN outer);
