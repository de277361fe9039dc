#include "capture/device_catalogue.h"

#include <climits>

namespace {

// The formats of one device's capture pin that the lists show: video described by a
// VIDEOINFOHEADER, in the device's order. Null when the pin reports no capabilities of the
// expected size.
std::unique_ptr<VideoFormatArray> CollectFormats(IAMStreamConfig* pConfig) {
    std::unique_ptr<VideoFormatArray> pFormats(new VideoFormatArray);
    pFormats->SetSize(0, -1);
    if (!ForEachCapability(pConfig, [&](MediaTypeHolder& pType, const VIDEO_STREAM_CONFIG_CAPS&) {
            // The holder disposes of the media type even when Add throws.
            if (const VIDEOINFOHEADER* pvih = GetVideoInfo(*pType); pvih != nullptr) {
                pFormats->Add(VideoFormat{pvih->bmiHeader.biWidth, pvih->bmiHeader.biHeight,
                                          pvih->AvgTimePerFrame, pvih->dwBitRate, pType->subtype});
            }
            return true;
        })) {
        return nullptr;
    }
    return pFormats;
}

// One moniker read: its friendly name and formats; nothing when it fails a step or has no
// format the lists show.
void ReadDevice(IMoniker* pMoniker, ICaptureGraphBuilder2* pBuilder, int nPosition,
                std::vector<CDeviceEntry>& devices) {
    CComRef<IPropertyBag> pBag;
    if (pMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, pBag.Out()) != S_OK) {
        return;
    }
    VARIANT varName;
    ::VariantInit(&varName);
    varName.vt = VT_BSTR;
    CDeviceEntry entry;
    if (pBag->Read(L"FriendlyName", &varName, nullptr) == S_OK) {
        // Only a text answer is a name; anything else would be read as a pointer.
        entry.strName = varName.vt == VT_BSTR ? varName.bstrVal : nullptr;
        CComRef<IBaseFilter> pFilter;
        if (pMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, pFilter.Out()) == S_OK) {
            CComRef<IAMStreamConfig> pConfig;
            if (pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, pFilter,
                                        IID_IAMStreamConfig, pConfig.Out()) == S_OK) {
                entry.pFormats = CollectFormats(pConfig);
            }
        }
    }
    ::VariantClear(&varName);
    if (entry.pFormats == nullptr || entry.pFormats->GetSize() == 0) {
        return;
    }
    entry.pFormats->m_nMonikerPosition = nPosition;
    entry.pFormats->m_strDisplayName = GetMonikerName(pMoniker);
    devices.push_back(std::move(entry));
}

// Runs of spaces as one, a leading run dropped: entries never start with a space. A trailing
// run of spaces and line ends goes too: a line cut from /list's CR LF output still matches.
std::wstring Squeezed(const std::wstring& text) {
    std::wstring result;
    for (wchar_t ch : text) {
        if (ch == L' ' && (result.empty() || result.back() == L' ')) {
            continue;
        }
        result += ch;
    }
    size_t nEnd = result.find_last_not_of(L" \r\n");
    result.erase(nEnd == std::wstring::npos ? 0 : nEnd + 1);
    return result;
}

// Upper case for all of Unicode: letters outside the basic plane, and the final sigma, which
// only the linguistic casing makes a capital sigma. CompareStringOrdinal folds neither.
std::wstring Upper(const wchar_t* psz, int nLength) {
    std::wstring upper(static_cast<size_t>(nLength), L'\0');
    if (nLength > 0 &&
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, psz,
                        nLength, upper.data(), nLength, nullptr, nullptr, 0) != nLength) {
        upper.assign(psz, static_cast<size_t>(nLength)); // cannot happen: the case maps 1:1
    }
    return upper;
}

bool EqualNoCase(const wchar_t* a, int nLengthA, const wchar_t* b, int nLengthB) {
    return nLengthA == nLengthB && Upper(a, nLengthA) == Upper(b, nLengthB);
}

} // namespace

DWORD ReadDeviceCatalogue(std::vector<CDeviceEntry>& devices) {
    // Released in reverse order: graph builder, class enumerator, device enumerator.
    CComRef<ICreateDevEnum> pDevEnum;
    CComRef<IEnumMoniker> pClassEnum;
    CComRef<ICaptureGraphBuilder2> pBuilder;
    if (::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC, IID_ICreateDevEnum,
                           pDevEnum.Out()) != S_OK) {
        return 1;
    }
    if (pDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &pClassEnum, 0) != S_OK) {
        return 2; // S_FALSE: no video capture device at all
    }
    if (pClassEnum == nullptr) {
        return 3;
    }
    // It serves only to find each device's stream configuration.
    if (::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                           IID_ICaptureGraphBuilder2, pBuilder.Out()) != S_OK) {
        return 4;
    }
    std::vector<CDeviceEntry> found;
    // Walked with Next alone: Wine's Skip does not move the enumeration.
    for (int nPosition = 0;; ++nPosition) {
        CComRef<IMoniker> pMoniker;
        ULONG nFetched = 0;
        if (pClassEnum->Next(1, &pMoniker, &nFetched) != S_OK) {
            break;
        }
        if (pMoniker != nullptr) {
            ReadDevice(pMoniker, pBuilder, nPosition, found);
        }
    }
    devices.swap(found);
    return 0;
}

bool CollectDeviceListing(std::vector<CDeviceListing>& devices) {
    std::vector<CDeviceEntry> catalogue;
    if (ReadDeviceCatalogue(catalogue) != 0) {
        return false;
    }
    CString strEntry;
    for (const CDeviceEntry& entry : catalogue) {
        CDeviceListing device;
        device.strName = entry.strName;
        device.strDisplayName = entry.pFormats->m_strDisplayName;
        for (int i = 0; i < entry.pFormats->GetSize(); ++i) {
            const VideoFormat& format = (*entry.pFormats)[i];
            GetFormatEntryText(format, strEntry);
            device.formats.emplace_back(strEntry);
            device.records.push_back(format);
        }
        devices.push_back(std::move(device));
    }
    return !devices.empty();
}

HRESULT BindDeviceByName(const wchar_t* pszDisplayName, IBaseFilter** ppFilter) {
    *ppFilter = nullptr;
    CDeviceWalk walk;
    HRESULT hr = S_OK;
    if (walk.FindByName(pszDisplayName, hr) != 0) {
        return VFW_E_NOT_FOUND;
    }
    hr = walk.m_pMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                       reinterpret_cast<void**>(ppFilter));
    if (hr != S_OK) {
        *ppFilter = nullptr; // a failed call hands out nothing
        return FAILED(hr) ? hr : E_FAIL;
    }
    return S_OK;
}

int ParsePosition(const std::wstring& text) {
    if (text.empty()) {
        return kNotAPosition;
    }
    long long n = 0;
    for (wchar_t ch : text) {
        if (ch < L'0' || ch > L'9') {
            return kNotAPosition;
        }
        if (n <= INT_MAX) {
            n = n * 10 + (ch - L'0');
        }
    }
    return n > INT_MAX ? kPositionTooLarge : static_cast<int>(n);
}

std::wstring PositionText(const std::wstring& digits) {
    size_t nFirst = digits.find_first_not_of(L'0');
    return nFirst == std::wstring::npos ? L"0" : digits.substr(nFirst);
}

bool DeviceNameMatches(const std::wstring& name, const std::wstring& text) {
    return EqualNoCase(name.c_str(), static_cast<int>(name.size()), text.c_str(),
                       static_cast<int>(text.size()));
}

bool EntryStartsWith(const std::wstring& entry, const std::wstring& text) {
    std::wstring squeezedText = Squeezed(text);
    std::wstring squeezedEntry = Squeezed(entry);
    return !squeezedText.empty() && squeezedEntry.size() >= squeezedText.size() &&
           EqualNoCase(squeezedEntry.c_str(), static_cast<int>(squeezedText.size()),
                       squeezedText.c_str(), static_cast<int>(squeezedText.size()));
}

std::wstring EscapeControls(const std::wstring& text) {
    auto hex = [](std::wstring& out, const wchar_t* pszPrefix, unsigned nValue, int nDigits) {
        out += pszPrefix;
        for (int i = nDigits - 1; i >= 0; --i) {
            out += L"0123456789ABCDEF"[(nValue >> (4 * i)) & 0xF];
        }
    };
    std::wstring result;
    for (wchar_t ch : text) {
        if (ch == L'\n') {
            result += L"\\n";
        } else if (ch == L'\r') {
            result += L"\\r";
        } else if (ch == L'\t') {
            result += L"\\t";
        } else if (ch < 0x20 || ch == 0x7F || (ch >= 0x80 && ch < 0xA0)) {
            hex(result, L"\\x", ch, 2);
        } else if (ch == 0x2028 || ch == 0x2029) {
            // Line and paragraph separators end a line for many readers.
            hex(result, L"\\u", ch, 4);
        } else {
            result += ch;
        }
    }
    return result;
}

int FindEntry(const std::vector<std::wstring>& entries, const std::wstring& text,
              bool (*match)(const std::wstring& entry, const std::wstring& text)) {
    int nCount = static_cast<int>(entries.size());
    int nPosition = ParsePosition(text);
    if (nPosition != kNotAPosition) {
        return nPosition >= 0 && nPosition < nCount ? nPosition : -1;
    }
    for (int i = 0; i < nCount; ++i) {
        if (match(entries[static_cast<size_t>(i)], text)) {
            return i;
        }
    }
    return -1;
}

std::wstring NoDeviceText(const std::wstring& text) {
    return ParsePosition(text) != kNotAPosition
               ? L"No capture device at position " + PositionText(text) + L"."
               : L"No capture device named \"" + text + L"\".";
}

std::wstring NoFormatText(const std::wstring& text, const std::wstring& device) {
    return ParsePosition(text) != kNotAPosition
               ? L"No format at position " + PositionText(text) + L" for \"" + device + L"\"."
               : L"No format \"" + text + L"\" for \"" + device + L"\".";
}

bool ChooseDevice(bool bDevice, const std::wstring& strDevice, bool bFormat,
                  const std::wstring& strFormat, CDeviceChoice& choice, std::wstring& error) {
    std::vector<CDeviceListing> devices;
    if (!CollectDeviceListing(devices)) {
        error = L"No capture device found.";
        return false;
    }
    size_t nDevice = 0;
    if (bDevice) {
        std::vector<std::wstring> names;
        for (const CDeviceListing& device : devices) {
            names.push_back(device.strName);
        }
        int nFound = FindEntry(names, strDevice, DeviceNameMatches);
        if (nFound < 0) {
            error = NoDeviceText(EscapeControls(strDevice));
            return false;
        }
        nDevice = static_cast<size_t>(nFound);
    }
    const CDeviceListing& device = devices[nDevice];
    choice.strName = device.strName;
    choice.strDisplayName = device.strDisplayName;
    choice.formats.clear();
    const std::wstring strQuotedName = L"\"" + EscapeControls(device.strName) + L"\"";
    if (!bFormat) {
        choice.formats = device.records;
    } else if (int nFound = FindEntry(device.formats, strFormat, EntryStartsWith);
               nFound >= 0 && static_cast<size_t>(nFound) < device.records.size()) {
        choice.formats.push_back(device.records[static_cast<size_t>(nFound)]);
    } else {
        error = NoFormatText(EscapeControls(strFormat), EscapeControls(device.strName));
        return false;
    }
    if (choice.formats.empty()) {
        error = L"No format for " + strQuotedName + L".";
        return false;
    }
    if (choice.strDisplayName.empty()) {
        error = L"The device " + strQuotedName + L" has no name.";
        return false;
    }
    return true;
}
