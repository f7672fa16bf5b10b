// Placeholder until the library reader lands.
#include "platform/oleauto/oleauto.h"

HRESULT LoadTypeLib(LPCOLESTR, ITypeLib** pptlib) {
    if (pptlib) *pptlib = nullptr;
    return TYPE_E_CANTLOADLIBRARY;
}
