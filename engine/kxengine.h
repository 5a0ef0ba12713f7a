// The engine's process-wide registries: the field type descriptors, the engine's own flag list,
// the storage drivers, the display filter registry and the default format library. Start-up
// builds them and shut-down releases them; both may be called more than once.
#pragma once

#include "kxfile.h"
#include "kxvector.h"

void KxEngineStartup();
void KxEngineShutdown();
bool KxEngineIsStarted();

// The storage drivers in registration order; only the text driver (".txd") is built.
class KxFileTypeRegistry {
public:
    static void InitRegistry();
    static void ReleaseRegistry();
    static bool IsInitialized();
    // Empty outside InitRegistry() ... ReleaseRegistry().
    static const KxPointerVector<KxFileType>& GetFileTypes();
    // The driver whose default extension is sExtension (with its dot, any case), or null.
    static const KxFileType* FindByExtension(const char* sExtension);
};
