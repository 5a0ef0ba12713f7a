#include "kxfilename.h"

#include <optional>
#include <string>

#include "kxplatform_path.h"

namespace {

const char* const kSource = "KxFileName";
const char* const kClass = "KxFileName";

void CheckParameter(const char* sText) {
    if (sText == nullptr) KxGenerateException("Null parameter", kSource);
}

} // namespace

const KxFileNameRules& KxFileNameRules::Native() {
    static const KxFileNameRules rules{kxplatform::kPathSeparator, false, true};
    return rules;
}

const KxFileNameRules& KxFileNameRules::Windows() {
    static const KxFileNameRules rules{'\\', true, false};
    return rules;
}

KxFileName::KxFileName(const char* sPath, const KxFileNameRules& rules) : m_rules(rules) {
    KX_TRY
        if (sPath != nullptr) Set(sPath);
    KX_CATCH("Constructor", kClass)
}

KxFileName::KxFileName(const KxFileName& other) : m_rules(other.m_rules) {
    KX_TRY
        Copy(other);
    KX_CATCH("Copy Constructor", kClass)
}

KxFileName& KxFileName::operator=(const KxFileName& other) {
    KX_TRY
        if (this != &other) Copy(other);
        return *this;
    KX_CATCH("Assignment operator", kClass)
}

void KxFileName::Copy(const KxFileName& other) {
    KX_TRY
        m_rules = other.m_rules;
        SetDrive(other.m_drive);
        SetDirectory(other.m_directory);
        SetFileName(other.m_fileName);
        SetExtension(other.m_extension);
    KX_CATCH("Copy", "KxFilename")
}

bool KxFileName::IsIllegalCharacter(char c) {
    switch (c) {
        case '"':
        case '/':
        case ':':
        case '<':
        case '>':
        case '\\':
        case '|': return true;
        default: return false;
    }
}

void KxFileName::Set(const char* sPath) {
    KX_TRY
        if (sPath == nullptr) KxGenerateException("Null pointer", kSource);
        // Blanks are stripped before resolving: resolved, " x" would keep its blank inside the
        // full path. The full path is not limited in length.
        KxString path(sPath);
        path.Deblank();
        if (!path.IsEmpty() && m_rules.resolveFullPath) {
            std::optional<std::string> full = kxplatform::FullPath(path.GetCString());
            if (!full) KxGenerateSystemException("Could not get full path name -- ", false, kSource);
            path = full->c_str();
        }

        // A dot followed by a separator or drive mark belongs to a directory.
        int32_t dot = path.Find('.', 0, true);
        bool hasExtension = dot >= 0;
        for (int32_t i = dot; hasExtension && i < path.GetLength(); ++i)
            if (IsIllegalCharacter(path.GetCharAt(i))) hasExtension = false;
        if (hasExtension) {
            SetExtension(path.GetSubstring(dot));
            path.Truncate(static_cast<uint32_t>(dot));
        } else {
            SetExtension("");
        }

        int32_t split = path.Find(m_rules.separator, 0, true);
        if (split < 0 && m_rules.drives) split = path.Find(':', 0, true);
        KxString remainder;
        if (split < 0) {
            SetFileName(path);
        } else {
            SetFileName(path.GetSubstring(split + 1));
            remainder = path.GetSubstring(0, split + 1);
        }
        SplitLocation(remainder);
    KX_CATCH("Set()", kClass)
}

void KxFileName::SplitLocation(KxString& sRemainder) {
    char sep = m_rules.separator;
    char unc[3] = {sep, sep, '\0'};
    if (m_rules.drives && sRemainder.BeginsWith(unc)) {
        // \\server\share: neither part may be empty.
        int32_t serverEnd = sRemainder.Find(sep, 2);
        if (serverEnd <= 2) KxGenerateException("Invalid UNC name", kSource);
        int32_t shareEnd = sRemainder.Find(sep, serverEnd + 1);
        if (shareEnd <= serverEnd + 1) KxGenerateException("Invalid UNC name", kSource);
        SetDrive(sRemainder.GetSubstring(0, shareEnd));
        sRemainder = sRemainder.GetSubstring(shareEnd);
    } else if (m_rules.drives && sRemainder.Find(':') == 1) {
        SetDrive(sRemainder.GetSubstring(0, 2));
        sRemainder = sRemainder.GetSubstring(2);
    } else {
        SetDrive("");
    }
    SetDirectory(sRemainder);
}

void KxFileName::SetLocation(const char* sLocation) {
    KX_TRY
        if (sLocation == nullptr) KxGenerateException("Null pointer", kSource);
        KxString location(sLocation);
        location.Deblank();
        SplitLocation(location);
    KX_CATCH("SetLocation()", kClass)
}

void KxFileName::SetDrive(const char* sDrive) {
    KX_TRY
        CheckParameter(sDrive);
        char unc[3] = {m_rules.separator, m_rules.separator, '\0'};
        KxString drive(sDrive);
        if (!drive.IsEmpty() && !drive.BeginsWith(unc) && !drive.EndsWith(':')) drive.Append(':');
        m_drive = drive;
    KX_CATCH("SetDrive()", kClass)
}

void KxFileName::SetDirectory(const char* sDirectory) {
    KX_TRY
        CheckParameter(sDirectory);
        KxString directory(sDirectory);
        if (!directory.IsEmpty() && !directory.EndsWith(m_rules.separator))
            directory.Append(m_rules.separator);
        m_directory = directory;
    KX_CATCH("SetDirectory()", kClass)
}

void KxFileName::SetFileName(const char* sFileName) {
    KX_TRY
        CheckParameter(sFileName);
        m_fileName = sFileName;
    KX_CATCH("SetFileName()", kClass)
}

void KxFileName::SetExtension(const char* sExtension) {
    KX_TRY
        CheckParameter(sExtension);
        KxString extension(sExtension);
        if (!extension.IsEmpty() && !extension.BeginsWith(".")) extension.Insert(".", 0);
        m_extension = extension;
    KX_CATCH("SetExtension()", kClass)
}

void KxFileName::ConvertToAbsolutePath() {
    KX_TRY
        KxString full(GetFullPath());
        if (m_rules.resolveFullPath) {
            std::optional<std::string> resolved = kxplatform::FullPath(full.GetCString());
            if (!resolved)
                KxGenerateSystemException("Could not convert \"%s\" into an absolute name -- ",
                                          false, kSource, full.GetCString());
            full = resolved->c_str();
        }
        Set(full);
    KX_CATCH("ConvertToAbsolutePath()", kClass)
}

const char* KxFileName::GetFullPath() const {
    KxString text(m_drive);
    text << m_directory << m_fileName << m_extension;
    m_scratch = text;
    return m_scratch.GetCString();
}

const char* KxFileName::GetLocation() const {
    KxString text(m_drive);
    text << m_directory;
    m_scratch = text;
    return m_scratch.GetCString();
}

const char* KxFileName::GetNameWithExtension() const {
    KxString text(m_fileName);
    text << m_extension;
    m_scratch = text;
    return m_scratch.GetCString();
}
