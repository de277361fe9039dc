#include "media/imaging_factory.h"

#include <wincodec.h>

CImagingFactory::~CImagingFactory() {
    if (m_pWic != nullptr) {
        m_pWic->Release();
    }
}

HRESULT CImagingFactory::Open() {
    if (m_pWic != nullptr) {
        return S_OK;
    }
    return ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(&m_pWic));
}
