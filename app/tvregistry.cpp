#include "tvregistry.h"

#include "kxplatform_file.h"
#include "kxplatform_path.h"
#include "tvregstore.h"

namespace {

constexpr const char* kBase = "BaseRegistry";
constexpr const char* kClass = "tvRegistry";

KxString Decimal(int32_t lNumber) {
    KxString text;
    text << lNumber;
    return text;
}

KxString MRUName(int32_t lSlot) {
    KxString name("MRU");
    name << lSlot;
    return name;
}

void CheckRole(int32_t iRole) {
    if (iRole < 0 || iRole >= kColorRoleCount) {
        KxString message;
        message.printf("Invalid colour role %d", iRole);
        throw TvRegistryException(message.GetCString(), kClass);
    }
}

// A value under a key that is missing is missing too, so reading goes on when the key cannot be
// created (the file cannot be written; the constructor has reported that already).
bool OpenForReading(TvRegStore& store, const char* sKey) {
    if (store.OpenKey(sKey, false)) return true;
    try {
        return store.OpenKey(sKey, true);
    } catch (KxException&) {
        return false;
    }
}

const char* DirectoryValueName(int32_t iWhich) {
    if (iWhich == tvRegistry::kDataDirectory) return tvRegistry::kDataDirectoryValue;
    if (iWhich == tvRegistry::kHistoryDirectory) return tvRegistry::kHistoryDirectoryValue;
    KxString message;
    message.printf("Invalid directory kind %d", iWhich);
    throw TvRegistryException(message.GetCString(), kClass);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// BaseRegistry

BaseRegistry::BaseRegistry(const char* sKey, int32_t lMRUCount)
    : m_MRUCount(lMRUCount > 0 ? lMRUCount : 0), m_key(sKey) {
    KX_TRY
        Setup();
    KX_CATCH_STD("BaseRegistry()", kBase)
}

BaseRegistry::~BaseRegistry() {
    try {
        SaveMRUList();
    } catch (...) {
    }
}

void BaseRegistry::Setup() {
    KX_TRY
        SetupMRUList();
    KX_CATCH_STD("Setup()", kBase)
}

void BaseRegistry::SetupMRUList() {
    KX_TRY
        TvRegStore store;
        store.OpenKey(m_key, true);
        m_MRUList.clear();
        for (int32_t slot = 0; slot < m_MRUCount; ++slot) {
            KxString name = MRUName(slot);
            if (store.ValueExists(name)) {
                KxString file = store.ReadString(name);
                if (!file.IsEmpty() && kxplatform::FileExists(file.GetCString())) {
                    m_MRUList.push_back(file);
                    continue;
                }
            }
            store.WriteString(name, "");
            m_MRUList.push_back(KxString());
        }
    KX_CATCH_STD("SetupMRUList()", kBase)
}

void BaseRegistry::SaveMRUList() {
    KX_TRY
        TvRegStore store;
        if (!store.OpenKey(m_key, false)) return;
        for (int32_t slot = 0; slot < m_MRUList.GetCount(); ++slot)
            store.WriteString(MRUName(slot), m_MRUList[static_cast<size_t>(slot)]);
    KX_CATCH_STD("SaveMRUList()", kBase)
}

bool BaseRegistry::GetRegEntryStr(const char* sKey, const char* sName, KxString& sText) {
    KX_TRY
        TvRegStore store;
        if (!store.OpenKey(sKey, false) || !store.ValueExists(sName)) return false;
        sText = store.ReadString(sName);
        return true;
    KX_CATCH_STD("GetRegEntryStr()", kBase)
}

bool BaseRegistry::CreateRegEntryStr(const char* sKey, const char* sName, const char* sData) {
    KX_TRY
        TvRegStore store;
        if (!store.OpenKey(sKey, false)) return false;
        store.WriteString(sName, sData);
        return true;
    KX_CATCH_STD("CreateRegEntryStr()", kBase)
}

// ---------------------------------------------------------------------------------------------
// tvRegistry

tvRegistry::tvRegistry() try : BaseRegistry(kProgramKey, 0) {
    SetupRegistry();
} catch (KxException& e) {
    e.AddCallpath("tvRegistry()", kClass);
    throw;
} catch (const std::exception& e) {
    throw KxException(e, "tvRegistry()", kClass);
}

void tvRegistry::SetupRegistry() {
    KX_TRY
        TvRegStore store;
        store.OpenKey(kColorsKey, true);
        for (int32_t role = 0; role < kColorRoleCount; ++role) {
            KxString name = Decimal(role);
            if (!store.ValueExists(name)) store.WriteFloat(name, DefaultColors[role]);
        }
        store.CloseKey();
        store.OpenKey(kOptionsKey, true);
        KxString name = Decimal(kHistoryOption);
        if (!store.ValueExists(name)) store.WriteFloat(name, 0);
        store.CloseKey();
    KX_CATCH_STD("SetupRegistry()", kClass)
}

int32_t tvRegistry::NumberFromDouble(double value, const char* sName) {
    // Colour references written as unsigned numbers (0x80000008 and alike) wrap as a 32-bit
    // assignment would; anything else outside the range, not-a-number included, is refused
    // rather than converted into an undefined result.
    if (value > -2147483649.0 && value < 2147483648.0) return static_cast<int32_t>(value);
    if (value >= 2147483648.0 && value < 4294967296.0)
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    KxString message;
    message.printf("The registry value '%s' holds %g, which is not a 32-bit number", sName, value);
    throw TvRegistryException(message.GetCString(), kClass);
}

int32_t tvRegistry::GetColor(int32_t iRole) {
    KX_TRY
        CheckRole(iRole);
        TvRegStore store;
        KxString name = Decimal(iRole);
        if (OpenForReading(store, kColorsKey) && store.ValueExists(name))
            return NumberFromDouble(store.ReadFloat(name), name);
        return DefaultColors[iRole];
    KX_CATCH_STD("GetColor()", kClass)
}

void tvRegistry::SetColor(int32_t lValue, int32_t iRole) {
    KX_TRY
        CheckRole(iRole);
        TvRegStore store;
        store.OpenKey(kColorsKey, true);
        store.WriteFloat(Decimal(iRole), lValue);
    KX_CATCH_STD("SetColor()", kClass)
}

int32_t tvRegistry::GetOption(int32_t iNumber) {
    KX_TRY
        TvRegStore store;
        KxString name = Decimal(iNumber);
        if (OpenForReading(store, kOptionsKey) && store.ValueExists(name))
            return NumberFromDouble(store.ReadFloat(name), name);
        return 0;
    KX_CATCH_STD("GetOption()", kClass)
}

void tvRegistry::SetOption(int32_t lValue, int32_t iNumber) {
    KX_TRY
        TvRegStore store;
        store.OpenKey(kOptionsKey, true);
        store.WriteFloat(Decimal(iNumber), lValue);
    KX_CATCH_STD("SetOption()", kClass)
}

bool tvRegistry::GetUserDataPath(KxString& sPath, int32_t iWhich) {
    KX_TRY
        GetRegEntryStr(kProgramKey, DirectoryValueName(iWhich), sPath);
        sPath.Deblank();
        if (!sPath.IsEmpty() && !sPath.EndsWith(kxplatform::kPathSeparator))
            sPath += kxplatform::kPathSeparator;
        return !sPath.IsEmpty();
    KX_CATCH_STD("GetUserDataPath()", kClass)
}

bool tvRegistry::SetUserDataPath(const char* sPath, int32_t iWhich) {
    KX_TRY
        return CreateRegEntryStr(kProgramKey, DirectoryValueName(iWhich), sPath);
    KX_CATCH_STD("SetUserDataPath()", kClass)
}
