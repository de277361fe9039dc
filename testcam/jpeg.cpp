#include "testcam/jpeg.h"

#include <wincodec.h>

namespace testcam {

namespace {

// Releases a COM pointer at the end of a scope.
template <class T> class Ref {
public:
    Ref() = default;
    ~Ref() {
        if (p_) {
            p_->Release();
        }
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T** operator&() { return &p_; }
    T* operator->() const { return p_; }
    T* get() const { return p_; }

private:
    T* p_ = nullptr;
};

// Near what webcams deliver: the bars' edges stay sharp.
constexpr float kQuality = 0.9f;

} // namespace

JpegEncoder::~JpegEncoder() {
    if (factory_) {
        factory_->Release();
    }
}

HRESULT JpegEncoder::Init() {
    if (factory_) {
        return S_OK;
    }
    return CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IWICImagingFactory, reinterpret_cast<void**>(&factory_));
}

HRESULT JpegEncoder::Encode(const BYTE* bgr, UINT width, UINT height, UINT stride, BYTE* out,
                            DWORD capacity, DWORD* written) {
    *written = 0;
    if (!factory_) {
        return E_UNEXPECTED;
    }
    Ref<IWICStream> stream;
    HRESULT hr = factory_->CreateStream(&stream);
    if (SUCCEEDED(hr)) {
        hr = stream->InitializeFromMemory(out, capacity);
    }
    Ref<IWICBitmapEncoder> encoder;
    if (SUCCEEDED(hr)) {
        hr = factory_->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder);
    }
    if (SUCCEEDED(hr)) {
        hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
    }
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IPropertyBag2> options;
    if (SUCCEEDED(hr)) {
        hr = encoder->CreateNewFrame(&frame, &options);
    }
    if (SUCCEEDED(hr) && options.get()) {
        PROPBAG2 option = {};
        option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_R4;
        value.fltVal = kQuality;
        // An encoder without the option keeps its own quality.
        options->Write(1, &option, &value);
    }
    if (SUCCEEDED(hr)) {
        hr = frame->Initialize(options.get());
    }
    if (SUCCEEDED(hr)) {
        hr = frame->SetSize(width, height);
    }
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) {
        hr = frame->SetPixelFormat(&format);
    }
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat24bppBGR) {
        hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    }
    if (SUCCEEDED(hr)) {
        hr = frame->WritePixels(height, stride, stride * height, const_cast<BYTE*>(bgr));
    }
    if (SUCCEEDED(hr)) {
        hr = frame->Commit();
    }
    if (SUCCEEDED(hr)) {
        hr = encoder->Commit();
    }
    ULARGE_INTEGER end = {};
    if (SUCCEEDED(hr)) {
        LARGE_INTEGER zero = {};
        hr = stream->Seek(zero, STREAM_SEEK_CUR, &end);
    }
    if (SUCCEEDED(hr)) {
        *written = static_cast<DWORD>(end.QuadPart);
    }
    return hr;
}

} // namespace testcam
