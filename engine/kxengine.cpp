#include "kxengine.h"

#include <cstring>

#include "kxfield.h"
#include "kxfilter.h"
#include "kxformat.h"
#include "txdfile.h"

namespace {

constexpr const char* kRegistry = "KxFileTypeRegistry";

KxPointerVector<KxFileType>& Drivers() {
    static KxPointerVector<KxFileType> drivers;
    return drivers;
}

bool g_started = false;

bool EqualNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char ca = *a, cb = *b;
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == '\0') return true;
    }
}

} // namespace

void KxFileTypeRegistry::InitRegistry() {
    KX_TRY
        if (!Drivers().empty()) return;
        // The text driver first. The compressed binary, variable-layout text, gzip text and
        // clustered page drivers are not built.
        Drivers().push_back(new TXDFileType());
    KX_CATCH_STD("InitRegistry()", kRegistry)
}

void KxFileTypeRegistry::ReleaseRegistry() { Drivers().clear(); }

bool KxFileTypeRegistry::IsInitialized() { return !Drivers().empty(); }

const KxPointerVector<KxFileType>& KxFileTypeRegistry::GetFileTypes() { return Drivers(); }

const KxFileType* KxFileTypeRegistry::FindByExtension(const char* sExtension) {
    if (sExtension == nullptr) return nullptr;
    for (const KxFileType* type : Drivers())
        if (EqualNoCase(type->GetDefaultExtension(), sExtension)) return type;
    return nullptr;
}

void KxEngineStartup() {
    KX_TRY
        // Every step is itself safe to repeat, and a registry released on its own is built
        // again.
        KxFieldType::InitTypes();
        KxFormatLib::InitDefaultLibrary();
        KxFileTypeRegistry::InitRegistry();
        KxFlagType::InitFlagTypes();
        KxFilterRegistry::InitRegistry();
        g_started = true;
    KX_CATCH("KxEngineStartup()", "KxEngine")
}

void KxEngineShutdown() {
    KxFilterRegistry::ReleaseRegistry();
    KxFlagType::ReleaseFlagTypes();
    KxFileTypeRegistry::ReleaseRegistry();
    KxFormatLib::ReleaseDefaultLibrary();
    KxFieldType::ReleaseTypes();
    g_started = false;
}

bool KxEngineIsStarted() { return g_started; }
