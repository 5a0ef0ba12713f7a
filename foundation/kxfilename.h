// A path split into drive, directory, file name and extension, so that companion files can be
// named by changing one part. The full path is always drive + directory + name + extension.
#pragma once

#include "kxstring.h"

// How a path text is split. Native: '/' separates, there are no drives, and names are made
// absolute against the current directory. Windows: '\' separates, "C:" drives and "\\srv\share"
// UNC names are recognised, and names are taken as given (there is no Windows current directory
// to resolve them against here).
struct KxFileNameRules {
    char separator;
    bool drives;
    bool resolveFullPath;

    static const KxFileNameRules& Native();
    static const KxFileNameRules& Windows();
};

class KxFileName {
public:
    // Null leaves every part empty.
    explicit KxFileName(const char* sPath = nullptr,
                        const KxFileNameRules& rules = KxFileNameRules::Native());
    KxFileName(const KxFileName& other);
    KxFileName& operator=(const KxFileName& other);
    virtual ~KxFileName() = default;

    void Set(const char* sPath);
    // Drive and directory in one text; not made absolute.
    void SetLocation(const char* sLocation);
    void SetDrive(const char* sDrive);
    void SetDirectory(const char* sDirectory);
    void SetFileName(const char* sFileName);
    void SetExtension(const char* sExtension);
    void ConvertToAbsolutePath();

    // Composed texts, valid until the next of these three calls on this object.
    const char* GetFullPath() const;
    const char* GetLocation() const;
    const char* GetNameWithExtension() const;
    // The parts, valid until that part changes.
    const char* GetDrive() const { return m_drive.GetCString(); }
    const char* GetDirectory() const { return m_directory.GetCString(); }
    const char* GetFileName() const { return m_fileName.GetCString(); }
    const char* GetExtension() const { return m_extension.GetCString(); }

    const KxFileNameRules& GetRules() const { return m_rules; }

    // '"', '/', ':', '<', '>', '\' and '|'.
    static bool IsIllegalCharacter(char c);

private:
    void Copy(const KxFileName& other);
    void SplitLocation(KxString& sRemainder);

    KxFileNameRules m_rules;
    KxString m_drive;
    KxString m_directory;
    KxString m_fileName;
    KxString m_extension;
    mutable KxString m_scratch;
};
