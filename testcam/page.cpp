// The camera's settings page: brightness and contrast as trackbars, set through the filter's
// IAMVideoProcAmp when the frame applies the page. In any property frame: the platform's
// OleCreatePropertyFrame calls Apply; Wine 8's builds a comctl32 property sheet that only tells
// its pages PSN_APPLY, which the page hears on the sheet page that holds it.
#include "testcam/page.h"
#include "testcam/page_ids.h"
#include "testcam/pattern.h"

#include <commctrl.h>
#include <prsht.h>
#include <strmif.h>

#include <cwchar>

namespace testcam {

namespace {

const wchar_t kTitle[] = L"Video Proc Amp";
const wchar_t kPageProp[] = L"LookwellTestCameraPage";
const wchar_t kProcProp[] = L"LookwellTestCameraPageProc";

struct Control {
    long property;
    int trackbar;
    int label;
};
const Control kControls[] = {{VideoProcAmp_Brightness, IDC_BRIGHTNESS, IDC_BRIGHTNESS_VALUE},
                             {VideoProcAmp_Contrast, IDC_CONTRAST, IDC_CONTRAST_VALUE}};
constexpr int kControlCount = 2;

class PropertyPage final : public SingleInterfaceObject<IPropertyPage, &IID_IPropertyPage> {
public:
    ~PropertyPage() override {
        Deactivate();
        SetObjects(0, nullptr);
        SetPageSite(nullptr);
    }

    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override {
        if (site && site_) {
            return E_UNEXPECTED;
        }
        if (site_) {
            site_->Release();
        }
        site_ = site;
        if (site_) {
            site_->AddRef();
        }
        return S_OK;
    }

    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL) override {
        if (!rect) {
            return E_POINTER;
        }
        if (!amp_ || dialog_) {
            return E_UNEXPECTED;
        }
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        dialog_ = CreateDialogParamW(g_module, MAKEINTRESOURCEW(IDD_PICTURE_PAGE), parent,
                                     DialogProc, reinterpret_cast<LPARAM>(this));
        if (!dialog_) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        for (int i = 0; i < kControlCount; ++i) {
            long min = 0, max = 0, step = 0, plain = 0, flags = 0, value = 0;
            amp_->GetRange(kControls[i].property, &min, &max, &step, &plain, &flags);
            amp_->Get(kControls[i].property, &value, &flags);
            HWND trackbar = GetDlgItem(dialog_, kControls[i].trackbar);
            SendMessageW(trackbar, TBM_SETRANGEMIN, FALSE, min);
            SendMessageW(trackbar, TBM_SETRANGEMAX, FALSE, max);
            SendMessageW(trackbar, TBM_SETPAGESIZE, 0, 10);
            SendMessageW(trackbar, TBM_SETPOS, TRUE, value);
            shown_[i] = Position(i);
            ShowValue(i);
        }
        dirty_ = false;
        HookSheetPage(parent);
        Move(rect);
        return S_OK;
    }

    STDMETHODIMP Deactivate() override {
        if (!dialog_) {
            return E_UNEXPECTED;
        }
        UnhookSheetPage();
        DestroyWindow(dialog_);
        dialog_ = nullptr;
        return S_OK;
    }

    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override {
        if (!info) {
            return E_POINTER;
        }
        memset(info, 0, sizeof(*info));
        info->cb = sizeof(*info);
        // The template's size in this system's pixels: measured on a hidden copy.
        HWND probe = CreateDialogParamW(g_module, MAKEINTRESOURCEW(IDD_PICTURE_PAGE),
                                        GetDesktopWindow(), DialogProc, 0);
        if (!probe) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        RECT rect;
        GetWindowRect(probe, &rect);
        DestroyWindow(probe);
        info->size.cx = rect.right - rect.left;
        info->size.cy = rect.bottom - rect.top;
        size_t bytes = sizeof(kTitle);
        info->pszTitle = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!info->pszTitle) {
            return E_OUTOFMEMORY;
        }
        memcpy(info->pszTitle, kTitle, bytes);
        return S_OK;
    }

    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override {
        if (amp_) {
            amp_->Release();
            amp_ = nullptr;
        }
        if (count == 0) {
            return S_OK;
        }
        if (!objects || !objects[0]) {
            return E_POINTER;
        }
        return objects[0]->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(&amp_));
    }

    STDMETHODIMP Show(UINT command) override {
        if (!dialog_) {
            return E_UNEXPECTED;
        }
        ShowWindow(dialog_, static_cast<int>(command));
        return S_OK;
    }

    STDMETHODIMP Move(LPCRECT rect) override {
        if (!rect) {
            return E_POINTER;
        }
        if (!dialog_) {
            return E_UNEXPECTED;
        }
        MoveWindow(dialog_, rect->left, rect->top, rect->right - rect->left,
                   rect->bottom - rect->top, TRUE);
        return S_OK;
    }

    STDMETHODIMP IsPageDirty() override { return dirty_ ? S_OK : S_FALSE; }

    // Through the same IAMVideoProcAmp::Set a program calls: checked, stored, drawn. Only the
    // controls the user moved: an untouched OK must not overwrite what another program set
    // meanwhile.
    STDMETHODIMP Apply() override {
        if (!amp_ || !dialog_) {
            return E_UNEXPECTED;
        }
        HRESULT result = S_OK;
        for (int i = 0; i < kControlCount; ++i) {
            long position = Position(i);
            if (position == shown_[i]) {
                continue;
            }
            HRESULT hr = amp_->Set(kControls[i].property, position, VideoProcAmp_Flags_Manual);
            if (SUCCEEDED(hr)) {
                shown_[i] = position;
            } else if (SUCCEEDED(result)) {
                result = hr;
            }
        }
        if (SUCCEEDED(result)) {
            dirty_ = false;
            if (site_) {
                site_->OnStatusChange(PROPPAGESTATUS_CLEAN);
            }
        }
        return result;
    }

    STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }

private:
    long Position(int i) const {
        return static_cast<long>(
            SendDlgItemMessageW(dialog_, kControls[i].trackbar, TBM_GETPOS, 0, 0));
    }

    void ShowValue(int i) {
        wchar_t text[16];
        swprintf(text, 16, L"%ld", Position(i));
        SetDlgItemTextW(dialog_, kControls[i].label, text);
    }

    void Changed() {
        dirty_ = true;
        if (site_) {
            site_->OnStatusChange(PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE);
        }
        if (sheetPage_) {
            PropSheet_Changed(GetParent(sheetPage_), sheetPage_);
        }
    }

    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            return TRUE;
        }
        auto* page = reinterpret_cast<PropertyPage*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (message == WM_HSCROLL && page && page->dialog_ == dialog) {
            int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            for (int i = 0; i < kControlCount; ++i) {
                if (kControls[i].trackbar == id) {
                    page->ShowValue(i);
                    page->Changed();
                }
            }
            return TRUE;
        }
        return FALSE;
    }

    // A comctl32 property sheet's page that holds this one: its PSN_APPLY applies the page.
    void HookSheetPage(HWND parent) {
        // The sheet is still making the page: it has its tab control, not yet its page.
        HWND sheet = GetParent(parent);
        HWND tabs = sheet ? PropSheet_GetTabControl(sheet) : nullptr;
        wchar_t name[32] = {};
        if (!tabs || !GetClassNameW(tabs, name, 32) || lstrcmpiW(name, WC_TABCONTROLW) != 0) {
            return;
        }
        SetPropW(parent, kPageProp, this);
        SetPropW(parent, kProcProp,
                 reinterpret_cast<HANDLE>(SetWindowLongPtrW(
                     parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SheetPageProc))));
        sheetPage_ = parent;
    }

    void UnhookSheetPage() {
        if (!sheetPage_) {
            return;
        }
        SetWindowLongPtrW(sheetPage_, GWLP_WNDPROC,
                          reinterpret_cast<LONG_PTR>(GetPropW(sheetPage_, kProcProp)));
        RemovePropW(sheetPage_, kPageProp);
        RemovePropW(sheetPage_, kProcProp);
        sheetPage_ = nullptr;
    }

    static LRESULT CALLBACK SheetPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* page = static_cast<PropertyPage*>(GetPropW(window, kPageProp));
        auto previous = reinterpret_cast<WNDPROC>(GetPropW(window, kProcProp));
        if (message == WM_NOTIFY && page &&
            reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(PSN_APPLY)) {
            return SUCCEEDED(page->Apply()) || !page->dirty_ ? PSNRET_NOERROR
                                                             : PSNRET_INVALID_NOCHANGEPAGE;
        }
        return CallWindowProcW(previous, window, message, wParam, lParam);
    }

    IPropertyPageSite* site_ = nullptr;
    IAMVideoProcAmp* amp_ = nullptr;
    HWND dialog_ = nullptr;
    HWND sheetPage_ = nullptr;
    bool dirty_ = false;
    // What each control showed when the page opened or last applied.
    long shown_[kControlCount] = {};
};

} // namespace

HRESULT CreatePropertyPage(REFIID iid, void** out) {
    return CreateObjectFor<PropertyPage>(iid, out);
}

} // namespace testcam
