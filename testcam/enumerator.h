// One COM enumerator for the pins and the media types. `List` is a copyable value that says
// how many items there are (Count), hands out a new reference or copy of one (Get) and
// takes such an item back (Free).
#pragma once

#include "testcam/module.h"

#include <utility>

namespace testcam {

template <class Interface, const IID* InterfaceId, class Item, class List>
class Enumerator final : public SingleInterfaceObject<Interface, InterfaceId> {
public:
    Enumerator(List list, ULONG position) : list_(std::move(list)), position_(position) {}

    STDMETHODIMP Next(ULONG count, Item* items, ULONG* fetched) override {
        if (!items || (!fetched && count != 1)) {
            return E_POINTER;
        }
        ULONG n = 0;
        while (n < count && position_ + n < list_.Count()) {
            HRESULT hr = list_.Get(position_ + n, &items[n]);
            if (FAILED(hr)) {
                // All or nothing: the caller gets no half-filled array to clean up.
                while (n > 0) {
                    List::Free(items[--n]);
                }
                if (fetched) {
                    *fetched = 0;
                }
                return hr;
            }
            ++n;
        }
        position_ += n;
        if (fetched) {
            *fetched = n;
        }
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        ULONG left = list_.Count() > position_ ? list_.Count() - position_ : 0;
        if (count > left) {
            position_ += left;
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface** out) override {
        if (!out) {
            return E_POINTER;
        }
        return NewObject<Enumerator>(out, list_, position_);
    }

private:
    List list_;
    ULONG position_;
};

} // namespace testcam
