// The per-user settings store: a tree of keys holding named, typed values, kept in one text file
// in the REGEDIT4 format:
//
//     REGEDIT4
//
//     [HKEY_CURRENT_USER\Software\Maker\Program]
//     "Name"="text with \\ and \" escaped"
//     "Number"=hex:00,00,00,00,00,e0,6f,40
//
// An object is a short-lived view of the file, in the manner of an open registry handle: it loads
// the file when constructed, one key is open at a time, and every change replaces the file at
// once (a new file beside it, renamed over it), so a failed write leaves the old file whole.
// Running programs share the file without locking; the last writer wins.
//
// Keys and value names ignore ASCII letter case. Keys and values the program does not know (other
// roots, "dword:" and "hex(n):" values) are kept as they are when the file is rewritten. Lines are
// written with CR LF; CR LF and LF are read.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "kxexception.h"
#include "kxstring.h"
#include "kxvector.h"

// Failures of the store: a damaged or unreadable file, a file that cannot be written, a missing
// value.
KX_DECLARE_EXCEPTION(TvRegistryException, virtual KxException)
// A value of another type or size than the one asked for: "Invalid data type for '%s'".
KX_DECLARE_EXCEPTION(TvRegistryDataTypeException, TvRegistryException)

enum class TvRegDataType {
    String,  // "text"
    Binary,  // hex:..
    DWord,   // dword:xxxxxxxx
    Other,   // hex(n):.. of any other kind
};

class TvRegStore {
public:
    static constexpr const char* kRootKey = "HKEY_CURRENT_USER";
    // A settings file is a few hundred bytes; anything beyond this is not one of ours.
    static constexpr int64_t kMaxFileSize = 1024 * 1024;
    // Where a damaged file is kept: its name followed by this.
    static constexpr const char* kDamagedSuffix = ".damaged";

    // ${XDG_CONFIG_HOME:-$HOME/.config}/tarvio/registry.reg, from the environment of the moment.
    static KxString GetDefaultFileName();

    // Loads the file (the default one, or the one named); a missing file is an empty store. A
    // damaged file is renamed to its name + kDamagedSuffix, so that the next object starts from
    // an empty store, and the failure is thrown with the line and what is wrong with it; a file
    // that cannot be read is thrown as it is.
    TvRegStore();
    explicit TvRegStore(const char* sFileName);
    ~TvRegStore();
    TvRegStore(const TvRegStore&) = delete;
    TvRegStore& operator=(const TvRegStore&) = delete;

    const char* GetFileName() const { return m_fileName.GetCString(); }

    // Key paths are below HKEY_CURRENT_USER, parts separated by '\' ("Software\Maker\Program").
    bool KeyExists(const char* sKey) const;
    // Makes the key the open one. A missing key is created with its missing parents when
    // canCreate is set, and the file written (a failure to write is thrown); otherwise false.
    bool OpenKey(const char* sKey, bool canCreate);
    void CloseKey();
    bool HasCurrentKey() const { return m_current >= 0; }
    // The open key's path, or an empty text.
    KxString GetCurrentPath() const;

    // The operations on values act on the open key; without one they fail.
    bool ValueExists(const char* sName) const;
    // Fails for a missing value.
    TvRegDataType GetDataType(const char* sName) const;
    // An empty text for a missing value; a value of another type is a data type failure.
    KxString ReadString(const char* sName) const;
    // A missing value fails; a value of another type is a data type failure.
    KxVector<uint8_t> ReadBinaryData(const char* sName) const;
    // A binary value of exactly 8 bytes holding a little-endian IEEE 754 double; any other type
    // or size is a data type failure.
    double ReadFloat(const char* sName) const;

    // Each write replaces the file; when that fails the value stays as it was, here and there.
    void WriteString(const char* sName, const char* sValue);
    void WriteBinaryData(const char* sName, const void* pData, uint32_t ulSize);
    void WriteFloat(const char* sName, double value);

    // The file's text for the store as it stands.
    KxString Format() const;

private:
    struct Value {
        KxString name;      // as written; "@" is the key's default value
        TvRegDataType type;
        uint32_t kind;      // the n of hex(n):, for Other
        std::string data;   // the text of a string, the bytes of the others
    };
    struct Key {
        KxString path;      // the full path as written, root included
        std::vector<Value> values;
        std::map<std::string, size_t> index;  // folded name -> position in values
    };

    void Load();
    void Parse(const char* pText, size_t size);
    void Save();
    int32_t FindKey(const char* sFullPath) const;
    int32_t AddKey(const char* sFullPath);
    const Value* FindValue(const char* sName) const;
    size_t CurrentKey(const char* sOperation) const;
    void PutValue(const char* sName, TvRegDataType type, const void* pData, uint32_t ulSize);

    KxString m_fileName;
    std::vector<Key> m_keys;                   // in file order
    std::map<std::string, int32_t> m_keyIndex; // folded full path -> position in m_keys
    int32_t m_current = -1;
};
