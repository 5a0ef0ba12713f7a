#include "kxformat.h"

#include "kxexception.h"

namespace {

KxFormatLib* g_defaultLibrary = nullptr;

} // namespace

KxFormat* KxFormatLib::GetFormat(const char* sFormatName) { return nullptr; }

KxFormat* KxFormatLib::GetFormat(const char* sFormatName, char type) { return nullptr; }

void KxFormatLib::InitDefaultLibrary() {
    KX_TRY
        if (g_defaultLibrary != nullptr) return;
        g_defaultLibrary = new KxFormatLib();
    KX_CATCH_STD("InitDefaultLibrary()", "KxFormatLib")
}

void KxFormatLib::ReleaseDefaultLibrary() {
    delete g_defaultLibrary;
    g_defaultLibrary = nullptr;
}

KxFormatLib* KxFormatLib::GetDefaultLibrary() { return g_defaultLibrary; }
