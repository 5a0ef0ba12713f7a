// The program's per-user settings in the registry store (tvregstore.h): the five colours, the
// history option and the data and history directories, under HKEY_CURRENT_USER.
//
// Every operation opens its own store, uses it and lets it go; nothing is held open between
// operations, so running copies of the program see each other's writes at their next operation.
// Failures are KxExceptions (the store's among them: a damaged or unwritable file, a value of
// the wrong type) with each operation's line added to the call path.
#pragma once

#include <cstdint>

#include "kxstring.h"
#include "kxvector.h"
#include "tvappstate.h"

// A registry key with an optional list of most-recently-used file names, kept in the values
// "MRU0", "MRU1", ... of the key.
class BaseRegistry {
public:
    // Stores the key and the number of MRU slots and fills the MRU list from the key, which is
    // created when missing.
    BaseRegistry(const char* sKey, int32_t lMRUCount);
    // Saves the MRU list; failures are ignored.
    virtual ~BaseRegistry();
    BaseRegistry(const BaseRegistry&) = delete;
    BaseRegistry& operator=(const BaseRegistry&) = delete;

    // For each slot: the stored name when it names an existing file, else an empty entry (and
    // the value is written as an empty text).
    void SetupMRUList();
    // Writes every entry to its value, when the key exists.
    void SaveMRUList();

    // The string value into sText and true; false, with sText unchanged, when the key or the
    // value does not exist. A value of another type is the store's data type failure.
    static bool GetRegEntryStr(const char* sKey, const char* sName, KxString& sText);
    // Writes the string value and true; false when the key does not exist.
    static bool CreateRegEntryStr(const char* sKey, const char* sName, const char* sData);

    const char* GetKey() const { return m_key.GetCString(); }
    int32_t GetMRUCount() const { return m_MRUCount; }
    KxVector<KxString>& GetMRUList() { return m_MRUList; }
    const KxVector<KxString>& GetMRUList() const { return m_MRUList; }

private:
    void Setup();

    int32_t m_MRUCount;
    KxVector<KxString> m_MRUList;
    KxString m_key;
};

// The program's own key. Constructing one makes sure that the key, its "Colors" and "Options"
// subkeys and their default values exist; the operations below name the key themselves and need
// no object.
class tvRegistry : public BaseRegistry {
public:
    static constexpr const char* kProgramKey = "Software\\Quillon, Inc.\\Tarvio";
    static constexpr const char* kColorsKey = "Software\\Quillon, Inc.\\Tarvio\\Colors";
    static constexpr const char* kOptionsKey = "Software\\Quillon, Inc.\\Tarvio\\Options";
    // GetUserDataPath / SetUserDataPath: which directory.
    static constexpr int32_t kDataDirectory = 0;
    static constexpr int32_t kHistoryDirectory = 1;
    static constexpr const char* kDataDirectoryValue = "DefaultDataDirectory";
    static constexpr const char* kHistoryDirectoryValue = "HistoryFileDirectory";
    // Option 0: use the search history (non-zero: on).
    static constexpr int32_t kHistoryOption = 0;
    static constexpr int32_t kOptionCount = 1;
    // Indexed by ColorRole: light blue, black, black, red, white.
    static constexpr int32_t DefaultColors[kColorRoleCount] = {0xFFDB97, 0x000000, 0x000000,
                                                               0x0000FF, 0xFFFFFF};

    tvRegistry();

    // Creates the subkeys when missing and writes the default of every missing colour and
    // option.
    static void SetupRegistry();

    // The stored colour of the role (0 to 4), or its default when there is none. A role outside
    // 0 to 4 fails.
    static int32_t GetColor(int32_t iRole);
    static int32_t GetColor(ColorRole role) { return GetColor(static_cast<int32_t>(role)); }
    static void SetColor(int32_t lValue, int32_t iRole);
    static void SetColor(int32_t lValue, ColorRole role) {
        SetColor(lValue, static_cast<int32_t>(role));
    }
    // The stored option, or 0 when there is none.
    static int32_t GetOption(int32_t iNumber);
    static void SetOption(int32_t lValue, int32_t iNumber);

    // The stored directory (which: kDataDirectory or kHistoryDirectory) into sPath, blanks at
    // both ends removed and ending with the path separator; true when it is not empty. A missing
    // value leaves sPath as it was.
    static bool GetUserDataPath(KxString& sPath, int32_t iWhich);
    // Writes the text unchanged; false when the program key does not exist.
    static bool SetUserDataPath(const char* sPath, int32_t iWhich);

    // Colours and options are stored as 8-byte doubles whose value is the integer; reading
    // truncates toward zero. A value outside the 32-bit range (or not a number) fails, naming
    // the value.
    static int32_t NumberFromDouble(double value, const char* sName);
};
