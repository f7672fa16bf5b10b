// Registered-library lookup; replaced by the registry-backed version.
#include "platform/oleauto/oleauto.h"

HRESULT QueryPathOfRegTypeLib(REFGUID, USHORT, USHORT, LCID, BSTR* lpbstrPathName) {
    if (lpbstrPathName) *lpbstrPathName = nullptr;
    return TYPE_E_LIBNOTREGISTERED;
}
