// COM object creation with the platform's names, as far as resolving a ProgID needs it.
// No server can run here: a registered class gives an automation object that only answers
// for its type information, read from the class's registered type library.
#pragma once

#include "platform/oleauto/oleauto.h"

using LPVOID = void*;

enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
    CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER
};

constexpr HRESULT CLASS_E_NOAGGREGATION = MAKE_HRESULT_(0x80040110);

// HKEY_CLASSES_ROOT\<ProgID>\CLSID; a version-independent ProgID gives the class of the
// version its CurVer names. CO_E_CLASSSTRING for an unknown ProgID.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);

// Succeeds for a class registered under HKEY_CLASSES_ROOT\CLSID\{...} with a server key for the
// context asked (InprocServer32, LocalServer32); REGDB_E_CLASSNOTREG otherwise. The object
// offers IUnknown and IDispatch. Its IDispatch::GetTypeInfo gives the class's default
// interface, found through the class's TypeLib and Version keys, else (no such keys, or they
// lead nowhere) in the registered library that declares the class (LibraryDeclaringClass).
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
