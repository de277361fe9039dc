#include "support/process_figures.h"

#include <psapi.h>
#include <winternl.h>

#include <vector>

namespace {

// The extended handle table's layout, which no header of the toolchain declares.
struct CHandleEntry {
    PVOID pObject;
    ULONG_PTR nProcessId;
    ULONG_PTR nHandle;
    ULONG nGrantedAccess;
    USHORT nCreatorBackTraceIndex;
    USHORT nTypeIndex;
    ULONG nAttributes;
    ULONG nReserved;
};
struct CHandleTable {
    ULONG_PTR nCount;
    ULONG_PTR nReserved;
    CHandleEntry entries[1];
};
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr ULONG kObjectTypeInformation = 2;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

typedef LONG(NTAPI* QuerySystemFn)(ULONG, PVOID, ULONG, PULONG);
typedef LONG(NTAPI* QueryObjectFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);

FARPROC NtFunction(const char* pszName) {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), pszName);
}

// The type's name, through a copy of one of its handles in this process.
std::wstring TypeName(HANDLE hProcess, ULONG_PTR nHandle) {
    auto queryObject =
        reinterpret_cast<QueryObjectFn>(reinterpret_cast<void*>(NtFunction("NtQueryObject")));
    HANDLE hCopy = nullptr;
    if (queryObject == nullptr ||
        !::DuplicateHandle(hProcess, reinterpret_cast<HANDLE>(nHandle), ::GetCurrentProcess(),
                           &hCopy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return L"?";
    }
    alignas(8) BYTE info[1024] = {};
    std::wstring name = L"?";
    if (queryObject(hCopy, kObjectTypeInformation, info, sizeof(info), nullptr) == 0) {
        const auto* pName = reinterpret_cast<const UNICODE_STRING*>(info);
        name.assign(pName->Buffer, pName->Length / sizeof(wchar_t));
    }
    ::CloseHandle(hCopy);
    return name;
}

} // namespace

CProcessFigures MeasureProcess(HANDLE hProcess, DWORD dwProcessId) {
    static std::map<USHORT, std::wstring> typeNames;
    CProcessFigures figures;
    auto querySystem = reinterpret_cast<QuerySystemFn>(
        reinterpret_cast<void*>(NtFunction("NtQuerySystemInformation")));
    std::vector<ULONG_PTR> table(1 << 16);
    LONG status = kInfoLengthMismatch;
    while (querySystem != nullptr && status == kInfoLengthMismatch) {
        status = querySystem(kSystemExtendedHandleInformation, table.data(),
                             static_cast<ULONG>(table.size() * sizeof(ULONG_PTR)), nullptr);
        if (status == kInfoLengthMismatch) {
            table.resize(table.size() * 2);
        }
    }
    if (status == 0) {
        const auto* pTable = reinterpret_cast<const CHandleTable*>(table.data());
        for (ULONG_PTR i = 0; i < pTable->nCount; ++i) {
            const CHandleEntry& entry = pTable->entries[i];
            if (entry.nProcessId != dwProcessId) {
                continue;
            }
            std::wstring& name = typeNames[entry.nTypeIndex];
            if (name.empty() || name == L"?") {
                name = TypeName(hProcess, entry.nHandle);
            }
            ++figures.handles[name];
            ++figures.nHandles;
        }
    }
    PROCESS_MEMORY_COUNTERS_EX counters{};
    if (::GetProcessMemoryInfo(hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                               sizeof(counters))) {
        // Wine 8 fills only the basic counters and leaves PrivateUsage 0; its PagefileUsage
        // is the private (anonymous) memory, as it is on Windows.
        figures.nPrivateBytes = counters.cb >= sizeof(counters) && counters.PrivateUsage != 0
                                    ? counters.PrivateUsage
                                    : counters.PagefileUsage;
    }
    return figures;
}
