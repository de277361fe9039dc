// Growable array of plain records on the heap.
#pragma once

#include "framework/object.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <type_traits>

// Records are copied as bytes and zero-filled when growth brings them into use, so only
// trivially copyable types may be stored.
template <class TYPE, class ARG_TYPE = const TYPE&> class CArray : public CObject {
    static_assert(std::is_trivially_copyable_v<TYPE>, "CArray holds plain records only");

public:
    CArray() = default;
    CArray(const CArray&) = delete;
    CArray& operator=(const CArray&) = delete;
    ~CArray() override { std::free(m_pData); }

    int GetSize() const { return m_nSize; }
    int GetUpperBound() const { return m_nSize - 1; }

    // No bounds check: callers index below GetSize().
    TYPE GetAt(int nIndex) const { return m_pData[nIndex]; }
    const TYPE& operator[](int nIndex) const { return m_pData[nIndex]; }
    const TYPE* GetData() const { return m_pData; }

    // nGrowBy < 0 keeps the current grow step; 0 means automatic (size / 8, within 4..1024).
    // A negative size is ignored. Throws CMemoryException, leaving the array as it was.
    void SetSize(int nNewSize, int nGrowBy = -1);

    int Add(ARG_TYPE newElement) {
        if (m_nSize == INT_MAX) {
            AfxThrowMemoryException();
        }
        int nIndex = m_nSize;
        SetSize(nIndex + 1, -1);
        m_pData[nIndex] = newElement;
        return nIndex;
    }

private:
    static TYPE* Allocate(int nCount) {
        if (static_cast<unsigned long long>(nCount) > SIZE_MAX / sizeof(TYPE)) {
            AfxThrowMemoryException();
        }
        void* p = std::malloc(static_cast<std::size_t>(nCount) * sizeof(TYPE));
        if (p == nullptr) {
            AfxThrowMemoryException();
        }
        return static_cast<TYPE*>(p);
    }

    static void ZeroFill(TYPE* pFirst, int nCount) {
        std::memset(static_cast<void*>(pFirst), 0, static_cast<std::size_t>(nCount) * sizeof(TYPE));
    }

    TYPE* m_pData = nullptr;
    int m_nSize = 0;
    int m_nMaxSize = 0;
    int m_nGrowBy = 0;
};

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::SetSize(int nNewSize, int nGrowBy) {
    if (nGrowBy >= 0) {
        m_nGrowBy = nGrowBy;
    }
    if (nNewSize < 0) {
        return;
    }
    if (nNewSize == 0) {
        std::free(m_pData);
        m_pData = nullptr;
        m_nSize = m_nMaxSize = 0;
    } else if (m_pData == nullptr) {
        int nAlloc = nNewSize > m_nGrowBy ? nNewSize : m_nGrowBy;
        TYPE* pNew = Allocate(nAlloc);
        ZeroFill(pNew, nNewSize);
        m_pData = pNew;
        m_nSize = nNewSize;
        m_nMaxSize = nAlloc;
    } else if (nNewSize <= m_nMaxSize) {
        if (nNewSize > m_nSize) {
            ZeroFill(m_pData + m_nSize, nNewSize - m_nSize);
        }
        m_nSize = nNewSize;
    } else {
        int nGrow = m_nGrowBy;
        if (nGrow == 0) {
            nGrow = m_nSize / 8;
            nGrow = nGrow < 4 ? 4 : (nGrow > 1024 ? 1024 : nGrow);
        }
        int nNewMax = m_nMaxSize > INT_MAX - nGrow ? INT_MAX : m_nMaxSize + nGrow;
        if (nNewSize > nNewMax) {
            nNewMax = nNewSize;
        }
        TYPE* pNew = Allocate(nNewMax);
        std::memcpy(static_cast<void*>(pNew), m_pData,
                    static_cast<std::size_t>(m_nSize) * sizeof(TYPE));
        ZeroFill(pNew + m_nSize, nNewSize - m_nSize);
        std::free(m_pData);
        m_pData = pNew;
        m_nSize = nNewSize;
        m_nMaxSize = nNewMax;
    }
}
