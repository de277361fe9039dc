// The platform's imaging factory, which the picture coders share.
#pragma once

#include "framework/object.h"

#include <windows.h>

struct IWICImagingFactory;

// Made by Open in the calling thread's apartment, through COM: the program does not import the
// imaging component, which would load it at every start. The factory is free-threaded: pictures
// may then be coded on another thread, one at a time.
class CImagingFactory : private CNoCopy {
public:
    ~CImagingFactory();

    HRESULT Open();
    bool IsOpen() const { return m_pWic != nullptr; }
    IWICImagingFactory* operator->() const { return m_pWic; }

private:
    IWICImagingFactory* m_pWic = nullptr;
};
