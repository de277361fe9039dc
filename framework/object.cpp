#include "framework/object.h"

#include <cstdlib>

void AfxThrowMemoryException() {
    throw CMemoryException();
}

void* CObject::operator new(std::size_t size) {
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) {
        AfxThrowMemoryException();
    }
    return p;
}

void CObject::operator delete(void* p) noexcept {
    std::free(p);
}
