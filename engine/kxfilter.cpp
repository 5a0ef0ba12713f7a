#include "kxfilter.h"

namespace {

bool g_registryInitialized = false;

} // namespace

void KxFilterRegistry::InitRegistry() { g_registryInitialized = true; }

void KxFilterRegistry::ReleaseRegistry() { g_registryInitialized = false; }

bool KxFilterRegistry::IsInitialized() { return g_registryInitialized; }
