#include "support/remote_list.h"

#include <commctrl.h>

#include <algorithm>

namespace {

constexpr SIZE_T kRemoteSize = 4096;
constexpr int kMaxText = 1024;

} // namespace

CRemoteList::CRemoteList(HWND hList) : m_hList(hList) {
    DWORD dwProcessId = 0;
    ::GetWindowThreadProcessId(hList, &dwProcessId);
    m_hProcess = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                               dwProcessId);
    if (m_hProcess != nullptr) {
        m_pRemote = ::VirtualAllocEx(m_hProcess, nullptr, kRemoteSize, MEM_COMMIT, PAGE_READWRITE);
    }
}

CRemoteList::~CRemoteList() {
    if (m_pRemote != nullptr) {
        ::VirtualFreeEx(m_hProcess, m_pRemote, 0, MEM_RELEASE);
    }
    if (m_hProcess != nullptr) {
        ::CloseHandle(m_hProcess);
    }
}

int CRemoteList::Count() const {
    return static_cast<int>(::SendMessageW(m_hList, LVM_GETITEMCOUNT, 0, 0));
}

int CRemoteList::Columns() const {
    auto hHeader = reinterpret_cast<HWND>(::SendMessageW(m_hList, LVM_GETHEADER, 0, 0));
    return static_cast<int>(::SendMessageW(hHeader, HDM_GETITEMCOUNT, 0, 0));
}

std::wstring CRemoteList::Text(int nItem, int nColumn) const {
    LVITEMW item{};
    item.iSubItem = nColumn;
    return AskText(LVM_GETITEMTEXTW, static_cast<WPARAM>(nItem), item);
}

std::vector<std::wstring> CRemoteList::Row(int nItem) const {
    std::vector<std::wstring> row;
    for (int i = 0; i < Columns(); ++i) {
        row.push_back(Text(nItem, i));
    }
    return row;
}

std::wstring CRemoteList::Title(int nColumn) const {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    return AskText(LVM_GETCOLUMNW, static_cast<WPARAM>(nColumn), column);
}

template <class T>
std::wstring CRemoteList::AskText(UINT nMessage, WPARAM wParam, T request) const {
    if (!IsReady()) {
        return L"";
    }
    // The structure first, its text right behind it.
    auto* pText = reinterpret_cast<wchar_t*>(static_cast<BYTE*>(m_pRemote) + sizeof(T));
    request.pszText = pText;
    request.cchTextMax = kMaxText;
    std::wstring text(kMaxText, L'\0');
    ::WriteProcessMemory(m_hProcess, pText, text.data(), sizeof(wchar_t), nullptr);
    ::WriteProcessMemory(m_hProcess, m_pRemote, &request, sizeof(request), nullptr);
    ::SendMessageW(m_hList, nMessage, wParam, reinterpret_cast<LPARAM>(m_pRemote));
    ::ReadProcessMemory(m_hProcess, pText, text.data(), kMaxText * sizeof(wchar_t), nullptr);
    text.resize(std::min<size_t>(text.find(L'\0'), kMaxText));
    return text;
}

RECT CRemoteList::Cell(int nItem, int nColumn) const {
    RECT rc{LVIR_BOUNDS, 0, 0, 0};
    if (IsReady()) {
        ::WriteProcessMemory(m_hProcess, m_pRemote, &rc, sizeof(rc), nullptr);
        ::SendMessageW(m_hList, LVM_GETITEMRECT, static_cast<WPARAM>(nItem),
                       reinterpret_cast<LPARAM>(m_pRemote));
        ::ReadProcessMemory(m_hProcess, m_pRemote, &rc, sizeof(rc), nullptr);
    }
    // The columns in their order from the row's left edge.
    for (int i = 0; i < nColumn; ++i) {
        rc.left += static_cast<LONG>(
            ::SendMessageW(m_hList, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i), 0));
    }
    rc.right = rc.left + static_cast<LONG>(::SendMessageW(m_hList, LVM_GETCOLUMNWIDTH,
                                                          static_cast<WPARAM>(nColumn), 0));
    ::MapWindowPoints(m_hList, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

bool CRemoteList::IsSelected(int nItem) const {
    return ::SendMessageW(m_hList, LVM_GETITEMSTATE, static_cast<WPARAM>(nItem), LVIS_SELECTED) !=
           0;
}
