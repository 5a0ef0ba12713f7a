#include "txdfile.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "kxfield.h"
#include "kxini.h"
#include "kxtimestamp.h"

namespace {

constexpr const char* kRec = "TXDRec";
constexpr const char* kTXD = "TXDFile";
constexpr const char* kTXDType = "TXDFileType";
constexpr const char* kFileInfo = "FileInfo";

// The numeric readers take the field through a buffer of this size.
constexpr uint32_t kNumericBuffer = 32;
// GetBLOB reads the blob number and the inline text through buffers of these sizes.
constexpr uint32_t kBlobIndexBuffer = 254;
constexpr uint32_t kBlobTextBuffer = 255;

bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

void DeleteIfExists(const char* sFileName) {
    if (KxIOInterface::Exists(sFileName)) KxIOInterface::Delete(sFileName);
}

KxString WithExtension(const char* sFileName, const char* sExtension) {
    KxFileName name(sFileName);
    name.SetExtension(sExtension);
    return KxString(name.GetFullPath());
}

// The line end bytes of a kind.
const char* LineEnd(int16_t wEOLType) {
    switch (wEOLType) {
        case kxEOLCR: return "\r";
        case kxEOLLF: return "\n";
        default: return "\r\n";
    }
}

int32_t LastFieldEnd(const KxPointerVector<KxField>& fields) {
    int32_t last = 0;
    for (const KxField* field : fields)
        last = std::max(last, static_cast<int32_t>(field->GetByteOffset()) +
                                  std::max<int32_t>(field->GetLength(), 0));
    return last;
}

int64_t ParseInteger(const char* text) { return static_cast<int64_t>(strtoll(text, nullptr, 10)); }

} // namespace

// ---------------------------------------------------------------------------------------------
// TXDRec

TXDRec::TXDRec(const KxPointerVector<KxField>* pFields, KxBlobFile* pBlobFile,
               int32_t lLineLength, int16_t wEOLType)
    : KxFileRecord(pFields, pBlobFile), m_eolType(wEOLType), m_lineLength(lLineLength) {
    KX_TRY
        if (wEOLType < kxEOLCR || wEOLType > kxEOLCRLF)
            KxGenerateException("Invalid EOL flag", kRec);
        if (lLineLength < EOLLength(wEOLType) || lLineLength > TXDFile::kxMaxRecordLength + 2)
            KxGenerateException("Invalid line length %d", kRec, static_cast<int>(lLineLength));
        m_line.ResizeChunk(lLineLength, true, ' ');
        SetLineEnd();
    KX_CATCH("Constructor", kRec)
}

TXDRec::TXDRec(const TXDRec& other)
    : KxFileRecord(other), m_line(other.m_line), m_eolType(other.m_eolType),
      m_lineLength(other.m_lineLength) {}

TXDRec::~TXDRec() = default;

TXDRec* TXDRec::Clone() const {
    KX_TRY
        return new TXDRec(*this);
    KX_CATCH_STD("Clone()", kRec)
}

void TXDRec::SetLineEnd() {
    memcpy(Line() + GetDataLength(), LineEnd(m_eolType), static_cast<size_t>(EOLLength(m_eolType)));
}

bool TXDRec::HasLineEnd() const {
    return memcmp(GetLine() + GetDataLength(), LineEnd(m_eolType),
                  static_cast<size_t>(EOLLength(m_eolType))) == 0;
}

// A field that reaches into the line end or past it would have its reads and writes leave the
// line; it is refused instead.
int32_t TXDRec::FieldOffset(uint16_t uwFieldIndex, int32_t lMinimum) const {
    const KxField& field = GetFieldDefinition(uwFieldIndex);
    int32_t offset = field.GetByteOffset();
    int32_t length = std::max<int32_t>(field.GetLength(), lMinimum);
    if (field.GetLength() < 0 || offset + length > GetDataLength())
        KxGenerateException("Field %d (offset %d, length %d) reaches past the end of the line "
                            "(%d characters)",
                            kRec, static_cast<int>(uwFieldIndex), static_cast<int>(offset),
                            static_cast<int>(length), static_cast<int>(GetDataLength()));
    return offset;
}

void TXDRec::Clear() { memset(Line(), ' ', static_cast<size_t>(GetDataLength())); }

char* TXDRec::GetAlpha(uint16_t uwFieldIndex, char* pBuffer, uint32_t ulBufferLength,
                       bool stripTrailingBlanks) const {
    KX_TRY
        int32_t length = GetFieldDefinition(uwFieldIndex).GetLength();
        if (pBuffer == nullptr) KxGenerateException("Invalid (null) parameter", kRec);
        if (length < 0 || ulBufferLength < static_cast<uint32_t>(length) + 1)
            KxGenerateException(
                "Buffer %d too small in GetAlpha() of TXDRec; need buffer length of %d", kRec,
                static_cast<int>(ulBufferLength), static_cast<int>(length + 1));
        int32_t offset = FieldOffset(uwFieldIndex);
        memcpy(pBuffer, GetLine() + offset, static_cast<size_t>(length));
        pBuffer[length] = '\0';
        if (stripTrailingBlanks)
            for (int32_t i = length - 1; i >= 0 && pBuffer[i] == ' '; --i) pBuffer[i] = '\0';
        return pBuffer;
    KX_CATCH("GetAlpha()", kRec)
}

void TXDRec::GetBinary(uint16_t uwFieldIndex, void* pDest) const {
    KX_TRY
        KxGenerateException("TXDFiles do not support BINARY fields", kRec);
    KX_CATCH("GetBinary()", kRec)
}

bool TXDRec::GetIsBlank(uint16_t uwFieldIndex) const {
    KX_TRY
        int32_t offset = FieldOffset(uwFieldIndex);
        int32_t length = GetFieldDefinition(uwFieldIndex).GetLength();
        const char* p = GetLine() + offset;
        for (int32_t i = 0; i < length; ++i)
            if (p[i] != ' ') return false;
        return true;
    KX_CATCH("GetIsBlank()", kRec)
}

void TXDRec::GetNumericText(uint16_t uwFieldIndex, char* pBuffer) const {
    GetAlpha(uwFieldIndex, pBuffer, kNumericBuffer, true);
}

bool TXDRec::GetBoolean(uint16_t uwFieldIndex) const {
    KX_TRY
        char text[kNumericBuffer];
        GetNumericText(uwFieldIndex, text);
        const char* s = text;
        while (*s == ' ') ++s;
        return *s != '\0' && strcmp(s, "0") != 0;
    KX_CATCH("GetBoolean()", kRec)
}

int32_t TXDRec::GetLong(uint16_t uwFieldIndex) const {
    KX_TRY
        if (GetIsBlank(uwFieldIndex)) return kxBlankLong;
        char text[kNumericBuffer];
        GetNumericText(uwFieldIndex, text);
        return static_cast<int32_t>(std::clamp<int64_t>(ParseInteger(text), INT32_MIN, INT32_MAX));
    KX_CATCH("GetLong()", kRec)
}

uint32_t TXDRec::GetUnsignedLong(uint16_t uwFieldIndex) const {
    KX_TRY
        if (GetIsBlank(uwFieldIndex)) return kxBlankUnsignedLong;
        char text[kNumericBuffer];
        GetNumericText(uwFieldIndex, text);
        return static_cast<uint32_t>(std::clamp<int64_t>(ParseInteger(text), 0, UINT32_MAX));
    KX_CATCH("GetUnsignedLong()", kRec)
}

int16_t TXDRec::GetShort(uint16_t uwFieldIndex) const {
    KX_TRY
        if (GetIsBlank(uwFieldIndex)) return kxBlankShort;
        char text[kNumericBuffer];
        GetNumericText(uwFieldIndex, text);
        return static_cast<int16_t>(std::clamp<int64_t>(ParseInteger(text), INT16_MIN, INT16_MAX));
    KX_CATCH("GetShort()", kRec)
}

uint16_t TXDRec::GetUnsignedShort(uint16_t uwFieldIndex) const {
    KX_TRY
        if (GetIsBlank(uwFieldIndex)) return kxBlankUnsignedShort;
        char text[kNumericBuffer];
        GetNumericText(uwFieldIndex, text);
        return static_cast<uint16_t>(std::clamp<int64_t>(ParseInteger(text), 0, UINT16_MAX));
    KX_CATCH("GetUnsignedShort()", kRec)
}

double TXDRec::GetNumber(uint16_t uwFieldIndex) const {
    KX_TRY
        if (GetIsBlank(uwFieldIndex)) return kxBlankNumber;
        char text[kNumericBuffer];
        GetNumericText(uwFieldIndex, text);
        return strtod(text, nullptr);
    KX_CATCH("GetNumber()", kRec)
}

void TXDRec::GetDate(uint16_t uwFieldIndex, KxDate& date) const {
    KX_TRY
        if (GetIsBlank(uwFieldIndex)) {
            date = KxDate();
            return;
        }
        int32_t length = GetFieldDefinition(uwFieldIndex).GetLength();
        KxResizableChunk text(length + 1, '\0');
        GetAlpha(uwFieldIndex, text.AsPtrAtOffset<char>(0), static_cast<uint32_t>(length + 1), false);
        date.SetCString(text.AsPtrAtOffset<char>(0));
    KX_CATCH_STD("GetDate()", kRec)
}

void TXDRec::GetTime(uint16_t uwFieldIndex, KxTime& time) const {
    KX_TRY
        if (GetIsBlank(uwFieldIndex)) {
            time = KxTime();
            return;
        }
        int32_t offset = FieldOffset(uwFieldIndex, 9);
        char text[10];
        memcpy(text, GetLine() + offset, 9);
        text[9] = '\0';
        time.SetCString(text);
    KX_CATCH("GetTime()", kRec)
}

void TXDRec::GetTimestamp(uint16_t uwFieldIndex, KxTimestamp& timestamp) const {
    KX_TRY
        if (GetIsBlank(uwFieldIndex)) {
            timestamp = KxTimestamp();
            return;
        }
        int32_t offset = FieldOffset(uwFieldIndex, KxTimestamp::kxTextLength);
        char text[KxTimestamp::kxTextLength + 1];
        memcpy(text, GetLine() + offset, KxTimestamp::kxTextLength);
        text[KxTimestamp::kxTextLength] = '\0';
        timestamp.SetCString(text);
    KX_CATCH("GetTimestamp()", kRec)
}

void TXDRec::PutAlpha(uint16_t uwFieldIndex, const char* pText) {
    KX_TRY
        int32_t offset = FieldOffset(uwFieldIndex);
        int32_t length = GetFieldDefinition(uwFieldIndex).GetLength();
        if (pText == nullptr) pText = "";
        if (strchr(pText, '\r') != nullptr || strchr(pText, '\n') != nullptr)
            KxGenerateException("TXD files do not support embedded returns in ALPHA fields", kRec);
        memset(Line() + offset, ' ', static_cast<size_t>(length));
        size_t n = strlen(pText);
        if (n > static_cast<size_t>(length))
            KxGenerateException(
                "String \"%s\" of length %d too large in PutAlpha() of TXDRec; max length %d", kRec,
                pText, static_cast<int>(n), static_cast<int>(length));
        memcpy(Line() + offset, pText, n);
    KX_CATCH("PutAlpha()", kRec)
}

void TXDRec::PutBinary(uint16_t uwFieldIndex, const void* pBytes) {
    KX_TRY
        KxGenerateException("TXDFiles do not support BINARY fields", kRec);
    KX_CATCH("PutBinary()", kRec)
}

void TXDRec::PutBlank(uint16_t uwFieldIndex) {
    KX_TRY
        const KxField& field = GetFieldDefinition(uwFieldIndex);
        int32_t offset = field.GetByteOffset();
        int32_t end = std::min(offset + std::max<int32_t>(field.GetLength(), 0), GetDataLength());
        if (end > offset) memset(Line() + offset, ' ', static_cast<size_t>(end - offset));
    KX_CATCH("PutBlank()", kRec)
}

void TXDRec::PutFormatted(uint16_t uwFieldIndex, const char* pFormat, ...) {
    KxString text;
    va_list args;
    va_start(args, pFormat);
    try {
        text.vprintf(pFormat, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    text.DeblankTrailing();
    PutAlpha(uwFieldIndex, text);
}

void TXDRec::PutBoolean(uint16_t uwFieldIndex, bool value) {
    KX_TRY
        PutAlpha(uwFieldIndex, value ? "1" : "0");
    KX_CATCH("PutBoolean()", kRec)
}

void TXDRec::PutLong(uint16_t uwFieldIndex, int32_t lValue) {
    KX_TRY
        PutFormatted(uwFieldIndex, "%-10d", static_cast<int>(lValue));
    KX_CATCH("PutLong()", kRec)
}

// Unsigned, so that values above the signed range keep their digits.
void TXDRec::PutUnsignedLong(uint16_t uwFieldIndex, uint32_t ulValue) {
    KX_TRY
        PutFormatted(uwFieldIndex, "%-10u", static_cast<unsigned>(ulValue));
    KX_CATCH("PutUnsignedLong()", kRec)
}

void TXDRec::PutShort(uint16_t uwFieldIndex, int16_t value) {
    KX_TRY
        PutFormatted(uwFieldIndex, "%-6d", static_cast<int>(value));
    KX_CATCH("PutShort()", kRec)
}

void TXDRec::PutUnsignedShort(uint16_t uwFieldIndex, uint16_t uwValue) {
    KX_TRY
        PutFormatted(uwFieldIndex, "%-6d", static_cast<int>(uwValue));
    KX_CATCH("PutUnsignedShort()", kRec)
}

void TXDRec::PutNumber(uint16_t uwFieldIndex, double value) {
    KX_TRY
        const KxField& field = GetFieldDefinition(uwFieldIndex);
        // A damaged precision must not make an invalid conversion.
        int precision = std::clamp<int>(field.GetPrecision(), 0, 60);
        int width = std::max<int>(field.GetLength() - precision, 0);
        KxString text;
        text.printf("%-*.*f", width, precision, value);
        text.DeblankTrailing();
        PutAlpha(uwFieldIndex, text);
    KX_CATCH("PutNumber()", kRec)
}

void TXDRec::PutDate(uint16_t uwFieldIndex, const KxDate& date) {
    KX_TRY
        KxString text(date.GetText());
        text.Truncate(8);
        PutAlpha(uwFieldIndex, text);
    KX_CATCH("PutDate()", kRec)
}

void TXDRec::PutTime(uint16_t uwFieldIndex, const KxTime& time) {
    KX_TRY
        int32_t offset = FieldOffset(uwFieldIndex, 9);
        memcpy(Line() + offset, time.GetCString(), 9);
    KX_CATCH("PutTime()", kRec)
}

void TXDRec::PutTimestamp(uint16_t uwFieldIndex, const KxTimestamp& timestamp) {
    KX_TRY
        int32_t offset = FieldOffset(uwFieldIndex, KxTimestamp::kxTextLength);
        memcpy(Line() + offset, timestamp.GetCString(), KxTimestamp::kxTextLength);
    KX_CATCH("PutTimestamp()", kRec)
}

// The blob readers take the field as GetAlpha gives it into a buffer of 254 bytes. They read the
// line in place when GetAlpha would succeed; otherwise GetAlpha itself runs and reports why not.
inline const char* TXDRec::BlobFieldBytes(uint16_t uwFieldIndex, int32_t& lLength) const {
    const KxPointerVector<KxField>* fields = GetFields();
    if (fields == nullptr || fields->GetBaseIndex() != 0 || uwFieldIndex >= fields->size())
        return nullptr;
    const KxField* field = (*fields)[uwFieldIndex];
    if (field == nullptr) return nullptr;
    int32_t length = field->GetLength();
    int32_t offset = field->GetByteOffset();
    if (length < 0 || length + 1 > static_cast<int32_t>(kBlobIndexBuffer) ||
        offset + length > GetDataLength())
        return nullptr;
    lLength = length;
    return GetLine() + offset;
}

// The number in the first eight characters of the field text, read as strtol reads it: leading
// white space, a sign, decimal digits; 0 when there are none. A NUL ends the text.
inline int32_t TXDRec::ParseBlobNumber(const char* pText, int32_t lLength) {
    const char* p = pText;
    const char* end = pText + std::min<int32_t>(lLength, kxBlobNumberWidth);
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int32_t value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) value = value * 10 + (*p - '0');
    return negative ? -value : value;
}

int32_t TXDRec::GetBLOBIndex(uint16_t uwFieldIndex) const {
    KX_TRY
        int32_t length = 0;
        if (const char* bytes = BlobFieldBytes(uwFieldIndex, length))
            return ParseBlobNumber(bytes, length);
        char text[kBlobIndexBuffer];
        GetAlpha(uwFieldIndex, text, kBlobIndexBuffer, true);
        text[kxBlobNumberWidth] = '\0';
        return static_cast<int32_t>(strtol(text, nullptr, 10));
    KX_CATCH("GetBLOBIndex()", kRec)
}

void TXDRec::GetBLOB(uint16_t uwFieldIndex, KxBlob& blob) const {
    KX_TRY
        KxBlobFile* blobFile = GetBlobFile();
        if (blobFile == nullptr) KxGenerateException("No BLOB file pointer available.", kRec);
        int32_t length = 0;
        const char* bytes = BlobFieldBytes(uwFieldIndex, length);
        char text[kBlobTextBuffer];
        int32_t number;
        if (bytes != nullptr) {
            number = ParseBlobNumber(bytes, length);
        } else {
            // Through GetAlpha's buffers, which refuse the field with their message.
            number = GetBLOBIndex(uwFieldIndex);
            if (number < 1) {
                GetAlpha(uwFieldIndex, text, kBlobTextBuffer, true);
                bytes = text;
                length = static_cast<int32_t>(strlen(text));
            }
        }
        if (number >= 1) {
            blobFile->GetBlob(number, blob);
            return;
        }
        // The text after the number, without trailing blanks and up to a NUL.
        size_t end = static_cast<size_t>(std::max<int32_t>(length, 0));
        // Blob fields are wide and mostly padding: eight blanks at a time.
        constexpr uint64_t kBlanks = 0x2020202020202020ULL;
        for (uint64_t word; end >= 8; end -= 8) {
            memcpy(&word, bytes + end - 8, 8);
            if (word != kBlanks) break;
        }
        while (end > 0 && bytes[end - 1] == ' ') --end;
        if (const void* nul = memchr(bytes, '\0', end))
            end = static_cast<size_t>(static_cast<const char*>(nul) - bytes);
        if (end > static_cast<size_t>(kxBlobNumberWidth))
            blob.SetText(bytes + kxBlobNumberWidth, static_cast<uint32_t>(end - kxBlobNumberWidth));
        else
            blob.SetBlob(nullptr, 0);
    KX_CATCH("GetBLOB()", kRec)
}

void TXDRec::PutBLOB(uint16_t uwFieldIndex, const KxBlob& blob) {
    KX_TRY
        KxBlobFile* blobFile = GetBlobFile();
        if (blobFile == nullptr) KxGenerateException("No BLOB file pointer available.", kRec);
        FieldOffset(uwFieldIndex);
        uint32_t size = blob.GetSize();
        if (size == 0) {
            PutBlank(uwFieldIndex);
            return;
        }
        int32_t room = std::max<int32_t>(GetFieldDefinition(uwFieldIndex).GetLength() - kxBlobNumberWidth, 0);
        const auto* bytes = static_cast<const unsigned char*>(blob.GetData());
        uint32_t scan = std::min<uint32_t>(size, static_cast<uint32_t>(room));
        int64_t unprintable = -1;
        for (uint32_t i = 0; i < scan && unprintable < 0; ++i)
            if (!IsPrintable(bytes[i])) unprintable = i;

        KxString text;
        if (unprintable < 0 && size < static_cast<uint32_t>(room)) {
            text.printf("%-*d", kxBlobNumberWidth, 0);
            text.Append(KxString(blob.GetText()));
        } else {
            int32_t number = blobFile->AddBlob(new KxBlob(blob));
            text.printf("%-*d", kxBlobNumberWidth, static_cast<int>(number));
            uint32_t preview = unprintable >= 0 ? static_cast<uint32_t>(unprintable)
                                                : static_cast<uint32_t>(room);
            KxResizableChunk head(static_cast<int32_t>(preview) + 1, '\0');
            memcpy(head.GetData(), bytes, preview);
            text.Append(head.AsPtrAtOffset<char>(0));
        }
        PutAlpha(uwFieldIndex, text);
    KX_CATCH_STD("PutBLOB()", kRec)
}

void TXDRec::GetAllFields(char** ppTexts, uint16_t uwCount, uint16_t uwFirst,
                          uint32_t ulBufferLength) const {
    KX_TRY
        uint16_t first = uwCount == 0 ? 0 : uwFirst;
        uint32_t count = uwCount == 0 ? GetFieldCount() : uwCount;
        if (static_cast<uint32_t>(first) + count > GetFieldCount())
            KxGenerateException("Attempt to GetFields past end of record", kRec);
        if (ppTexts == nullptr) KxGenerateException("Invalid (null) parameter", kRec);
        for (uint32_t i = first; i < first + count; ++i)
            GetAlpha(static_cast<uint16_t>(i), ppTexts[i], ulBufferLength, true);
    KX_CATCH("GetAllFields()", kRec)
}

void TXDRec::PutAllFields(const char* const* ppTexts, uint16_t uwCount, uint16_t uwFirst) {
    KX_TRY
        uint16_t first = uwCount == 0 ? 0 : uwFirst;
        uint32_t count = uwCount == 0 ? GetFieldCount() : uwCount;
        if (static_cast<uint32_t>(first) + count > GetFieldCount())
            KxGenerateException("Attempt to PutFields past end of record", kRec);
        if (ppTexts == nullptr) KxGenerateException("Invalid (null) parameter", kRec);
        for (uint32_t i = first; i < first + count; ++i)
            PutAlpha(static_cast<uint16_t>(i), ppTexts[i]);
    KX_CATCH("PutAllFields()", kRec)
}

uint32_t TXDRec::GetBufferLength() const { return static_cast<uint32_t>(m_lineLength); }

void TXDRec::SetRawData(const void* pBytes) {
    KX_TRY
        if (pBytes == nullptr) KxGenerateException("Invalid (null) parameter", kRec);
        memcpy(Line(), pBytes, static_cast<size_t>(GetDataLength()));
    KX_CATCH("SetRawData()", kRec)
}

void TXDRec::GetRawData(void* pDest) const {
    KX_TRY
        if (pDest == nullptr) KxGenerateException("Invalid (null) parameter", kRec);
        memcpy(pDest, GetLine(), static_cast<size_t>(GetDataLength()));
    KX_CATCH("GetRawData()", kRec)
}

// Only the characters before the line end are scrambled: the line ends stay readable, so that
// the line length of a scrambled file can still be checked.
void TXDRec::ReadRecord(KxInputStreamInterface& stream, const char* sPassword) {
    KX_TRY
        stream.Read(Line(), static_cast<uint32_t>(m_lineLength), true);
        if (sPassword != nullptr && *sPassword != '\0')
            KxUnscramble(Line(), GetDataLength(), sPassword);
    KX_CATCH("ReadRecord()", kRec)
}

void TXDRec::WriteRecord(KxOutputStreamInterface& stream, const char* sPassword) const {
    KX_TRY
        if (sPassword == nullptr || *sPassword == '\0') {
            stream.Write(GetLine(), static_cast<uint32_t>(m_lineLength));
            return;
        }
        KxResizableChunk copy(m_line);
        KxScramble(copy.GetData(), GetDataLength(), sPassword);
        stream.Write(copy.GetData(), static_cast<uint32_t>(m_lineLength));
    KX_CATCH("WriteRecord()", kRec)
}

// ---------------------------------------------------------------------------------------------
// TXDFile: opening and closing

TXDFile::TXDFile(const char* sFileName, uint32_t ulMode, const char* sPassword,
                 const char* sAlternate) {
    KX_TRY
        if (sPassword != nullptr) m_password = sPassword;
        if (sFileName != nullptr) Open(sFileName, ulMode, sPassword, sAlternate);
    KX_CATCH("Constructor", kTXD)
}

TXDFile::~TXDFile() {
    try {
        Close();
    } catch (...) {
    }
}

void TXDFile::Open(const char* sFileName, uint32_t ulMode, const char* sPassword,
                   const char* sAlternate, KxIniFile* pStructure) {
    KX_TRY
        ulMode &= ~static_cast<uint32_t>(kxIOText);
        OpenSetup(sFileName, ulMode, sPassword, sAlternate, pStructure);
        KxString fileName(GetFileName());

        bool hasBlobs = false;
        for (const KxField* field : m_fields) hasBlobs = hasBlobs || field->GetType() == kxBlobField;
        if (hasBlobs) OpenBlobFile(fileName, ulMode);

        int32_t last = LastFieldEnd(m_fields);
        if (last > m_recordLength)
            KxGenerateFileException("TXD record length is %d, but last field ends on %d", kTXD,
                                    fileName, static_cast<int>(m_recordLength),
                                    static_cast<int>(last));

        m_data.Close();
        m_data.SetBufferSize(kxDataBufferSize);
        m_data.Open(fileName, ulMode);
        MeasureDataFile();
        CheckFieldsFitLine();
        m_data.Seek64Absolute(0);
        m_currentRecordNumber = 0;
        // Bound before the first record is read, so that the map holds that record's blobs.
        m_blobMap.RebindMap(m_fields);
        m_mapPending = false;
        m_mapLine.reset(GetNewRecord());
        // What fails on a line of blanks fails on every line: the layout is at fault.
        try {
            m_blobMap.SetBlobIDs(*m_mapLine);
            m_mapDeferred = true;
        } catch (KxException&) {
            m_mapDeferred = false;
        }
        OpenFinish();
    KX_CATCH_STD("Open()", kTXD)
}

void TXDFile::MeasureDataFile() {
    KX_TRY
        KxString fileName(GetFileName());
        int64_t size;
        {
            KxIO probe(fileName, kxIORead);
            size = probe.GetFileSize64();
            if (size == 0) {
                m_eolType = kxEOLCRLF;
                m_lineLength = m_recordLength + 2;
                m_recordCount = 0;
                return;
            }
            int16_t structureKind = m_eolType;
            if (!m_password.IsEmpty() && structureKind >= kxEOLCR && structureKind <= kxEOLCRLF) {
                // Scrambled characters may be CR or LF: the structure file gives the length,
                // and the data must agree with it.
                int32_t length = m_recordLength + TXDRec::EOLLength(structureKind);
                int32_t ending = TXDRec::EOLLength(structureKind);
                char end[2] = {0, 0};
                if (size >= length)
                    probe.ReadFrom(length - ending, end, static_cast<uint32_t>(ending), true);
                if (size < length || memcmp(end, LineEnd(structureKind), static_cast<size_t>(ending)) != 0)
                    KxGenerateLRECLException(
                        "EOL indicator (CR or LF) not found at end of first record.", kTXD,
                        fileName, m_recordLength);
                m_eolType = structureKind;
                m_lineLength = length;
            } else {
                int32_t count = static_cast<int32_t>(std::min<int64_t>(m_recordLength + 2, size));
                KxResizableChunk head(count, '\0');
                probe.ReadFrom(0, head.GetData(), static_cast<uint32_t>(count), true);
                const char* bytes = head.AsPtrAtOffset<char>(0);
                const void* cr = memchr(bytes, '\r', static_cast<size_t>(count));
                const void* lf = memchr(bytes, '\n', static_cast<size_t>(count));
                // The first line end found decides; a CR later in the window than an LF belongs
                // to another line.
                if (cr != nullptr && (lf == nullptr || cr < lf)) {
                    int32_t k = static_cast<int32_t>(static_cast<const char*>(cr) - bytes);
                    if (k + 1 < count && bytes[k + 1] == '\n') {
                        m_eolType = kxEOLCRLF;
                        m_lineLength = k + 2;
                    } else {
                        m_eolType = kxEOLCR;
                        m_lineLength = k + 1;
                    }
                } else if (lf != nullptr) {
                    m_eolType = kxEOLLF;
                    m_lineLength = static_cast<int32_t>(static_cast<const char*>(lf) - bytes) + 1;
                } else {
                    KxGenerateLRECLException(
                        "EOL indicator (CR or LF) not found at end of first record.", kTXD,
                        fileName, m_recordLength);
                }
            }

            int32_t window = static_cast<int32_t>(std::min<int64_t>(3 * int64_t{m_lineLength}, size));
            KxResizableChunk lines(3 * m_lineLength + 1, '\0');
            probe.ReadFrom(0, lines.GetData(), static_cast<uint32_t>(window), true);
            const char* text = lines.AsPtrAtOffset<char>(0);
            if (strlen(text) > static_cast<size_t>(m_lineLength)) {
                int32_t ending = TXDRec::EOLLength(m_eolType);
                if (m_eolType < kxEOLCR || m_eolType > kxEOLCRLF)
                    KxGenerateException("Unknown EOL type", kTXD);
                if (memcmp(text + 2 * m_lineLength - ending, LineEnd(m_eolType),
                           static_cast<size_t>(ending)) != 0)
                    KxGenerateFileException(
                        "Line termination character not found in second record of %s with line "
                        "length %d.",
                        kTXD, fileName, fileName.GetCString(), static_cast<int>(m_lineLength));
            }
        }

        // A last line cut short (a truncated file, a missing line end) would otherwise be
        // dropped without a word.
        if (size % m_lineLength != 0)
            KxGenerateFileException("The end-of-line indicator is missing from the last record.",
                                    kTXD, fileName);
        int64_t count = size / m_lineLength;
        if (count > INT32_MAX)
            KxGenerateFileException("%s holds more than %d records", kTXD, fileName,
                                    fileName.GetCString(), static_cast<int>(INT32_MAX));
        m_recordCount = static_cast<int32_t>(count);
    KX_CATCH_STD("MeasureDataFile()", kTXD)
}

void TXDFile::CheckFieldsFitLine() const {
    KX_TRY
        int32_t last = LastFieldEnd(m_fields);
        int32_t data = m_lineLength - TXDRec::EOLLength(m_eolType);
        if (last > data)
            KxGenerateFileException("TXD line length is %d, but last field ends on %d", kTXD,
                                    GetFileName(), static_cast<int>(data), static_cast<int>(last));
    KX_CATCH("CheckFieldsFitLine()", kTXD)
}

void TXDFile::Close() {
    KX_TRY
        std::exception_ptr failure;
        try {
            KxFile::Close();
        } catch (...) {
            failure = std::current_exception();
        }
        try {
            m_data.Close();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
        m_currentRecordNumber = 0;
        m_recordCount = 0;
        m_blobMap.Clear();
        m_mapPending = false;
        m_mapDeferred = false;
        m_mapLine.reset();
        if (failure) std::rethrow_exception(failure);
    KX_CATCH_STD("Close()", kTXD)
}

void TXDFile::Flush() {
    KX_TRY
        m_data.Flush();
    KX_CATCH("Flush()", kTXD)
}

void TXDFile::Refresh() {
    KX_TRY
        Flush();
        MeasureDataFile();
        KxFile::Refresh();
    KX_CATCH("Refresh()", kTXD)
}

// ---------------------------------------------------------------------------------------------
// Structure file

void TXDFile::ReadStructure(KxIniFile* pStructure) {
    KX_TRY
        std::unique_ptr<KxIniFile> owned;
        if (pStructure == nullptr) {
            owned = GetIniFile(GetFileName());
            pStructure = owned.get();
        }
        KxFile::ReadStructure(pStructure);
        KxIniSection& info = *pStructure->GetSection(kFileInfo);

        m_numberOfFields = static_cast<int16_t>(
            std::clamp<int32_t>(info.GetInt("NumberOfFields", 0), INT16_MIN, INT16_MAX));
        int32_t recordLength = info.GetInt("RecordLength", 0);
        if (recordLength < 1 || recordLength > kxMaxRecordLength)
            KxGenerateException("Record length (value=%d) is out of range [1..%d]", kTXD,
                                static_cast<int>(recordLength), static_cast<int>(kxMaxRecordLength));
        m_recordLength = static_cast<int16_t>(recordLength);

        int16_t kind = 0;
        if (info.GetString("Use CR", "")[0] == 'Y') kind += kxEOLCR;
        if (info.GetString("Use LF", "")[0] == 'Y') kind += kxEOLLF;
        m_eolType = kind;

        int32_t startingCol = info.GetInt("StartingCol", 0);
        if (startingCol != 0) {
            for (KxField* field : m_fields) {
                int32_t offset = static_cast<int32_t>(field->GetByteOffset()) - startingCol;
                if (offset < 0 || offset > UINT16_MAX)
                    KxGenerateException("Field %d has ByteOffset %d, outside the record from "
                                        "StartingCol %d",
                                        kTXD, static_cast<int>(field->GetFieldNumber()),
                                        static_cast<int>(field->GetByteOffset()),
                                        static_cast<int>(startingCol));
                field->SetByteOffset(static_cast<uint16_t>(offset));
            }
        }
    KX_CATCH_STD("ReadStructure()", kTXD)
}

void TXDFile::WriteDriverStructure(KxIniFile& structure) {
    KX_TRY
        KxIniSection& info = *structure.GetSection(kFileInfo);
        info.SetInt("NumberOfFields", m_numberOfFields);
        info.SetInt("StartingCol", 0);
        info.SetInt("RecordLength", m_recordLength);
        const char* cr = "";
        const char* lf = "";
        switch (m_eolType) {
            case kxEOLCR: cr = "Y"; lf = "N"; break;
            case kxEOLLF: cr = "N"; lf = "Y"; break;
            case kxEOLCRLF: cr = "Y"; lf = "Y"; break;
            default: break;
        }
        info.SetString("Use CR", cr);
        info.SetString("Use LF", lf);
    KX_CATCH("WriteStructure", kTXD)
}

// ---------------------------------------------------------------------------------------------
// Records

TXDRec* TXDFile::GetNewRecord() {
    KX_TRY
        return new TXDRec(&m_fields, m_blobFile, m_lineLength, m_eolType);
    KX_CATCH_STD("GetNewRecord()", kTXD)
}

void TXDFile::CheckRecordNumber(int32_t lRecord, int32_t lLast) const {
    if (lRecord < 1 || lRecord > lLast)
        KxGenerateException("Record number %d is out of range [1..%d]", kTXD,
                            static_cast<int>(lRecord), static_cast<int>(lLast));
}

int64_t TXDFile::LinePosition(int32_t lRecord) const {
    return (static_cast<int64_t>(lRecord) - 1) * m_lineLength;
}

namespace {

// A record handed to the file must be one of its own layout: a line of its length and kind.
TXDRec& CheckedLine(KxFileRecord& record, int32_t lLineLength, int16_t wEOLType) {
    auto* line = dynamic_cast<TXDRec*>(&record);
    if (line == nullptr || line->GetLineLength() != lLineLength || line->GetEOLType() != wEOLType)
        KxGenerateException("The record buffer does not have the layout of this file (line "
                            "length %d)",
                            kTXD, static_cast<int>(lLineLength));
    return *line;
}

} // namespace

TXDRec& TXDFile::ReadLine(int32_t lRecord, KxFileRecord& record) {
    TXDRec& line = CheckedLine(record, m_lineLength, m_eolType);
    m_data.Seek64Absolute(LinePosition(lRecord));
    line.ReadRecord(m_data, m_password);
    // Only the first two lines are checked on opening; a line of another length further on
    // would shift every later field.
    if (!line.HasLineEnd()) {
        KxString fileName(GetFileName());
        KxGenerateFileException(
            "Line termination character not found in record %d of %s with line length %d.", kTXD,
            fileName, static_cast<int>(lRecord), fileName.GetCString(),
            static_cast<int>(m_lineLength));
    }
    return line;
}

void TXDFile::WriteLine(int32_t lRecord, const KxFileRecord& record) {
    const TXDRec& line = CheckedLine(const_cast<KxFileRecord&>(record), m_lineLength, m_eolType);
    m_data.Seek64Absolute(LinePosition(lRecord));
    line.WriteRecord(m_data, m_password);
}

void TXDFile::UpdateBlobMap() const {
    if (!m_mapPending) return;
    m_blobMap.SetBlobIDs(*m_mapLine);
    m_mapPending = false;
}

const KxBlobFieldMap& TXDFile::GetBlobFieldMap() const {
    KX_TRY
        UpdateBlobMap();
        return m_blobMap;
    KX_CATCH("GetBlobFieldMap()", kTXD)
}

void TXDFile::GotoRecord(int32_t lRecord, KxFileRecord* pRecord) {
    KX_TRY
        if (m_currentRecord == nullptr) KxGenerateException("File is not open", kTXD);
        CheckRecordNumber(lRecord, m_recordCount);
        KxFileRecord& target = pRecord != nullptr ? *pRecord : *m_currentRecord;
        TXDRec& line = ReadLine(lRecord, target);
        if (m_mapDeferred && m_mapLine->GetLineLength() == line.GetLineLength()) {
            m_mapLine->SetRawData(line.GetLine());
            m_mapPending = true;
        } else {
            m_mapPending = false;
            m_blobMap.SetBlobIDs(line);
        }
        m_currentRecordNumber = lRecord;
    KX_CATCH("GotoRecord()", kTXD)
}

// ---------------------------------------------------------------------------------------------
// Locks

namespace {
KxLockType LockTypeOf(uint32_t ulFlags) {
    return (ulFlags & kxFileExclusiveLock) != 0 ? WRITE : READ;
}
} // namespace

void TXDFile::Lock(uint32_t ulFlags) {
    KX_TRY
        m_data.Lock(LockTypeOf(ulFlags), 0, 0);
        KxFile::Lock(ulFlags);
    KX_CATCH("Lock()", kTXD)
}

bool TXDFile::TryLock(uint32_t ulFlags) {
    KX_TRY
        if (!m_data.TryLock(LockTypeOf(ulFlags), 0, 0)) return false;
        KxFile::Lock(ulFlags);
        return true;
    KX_CATCH("TryLock()", kTXD)
}

bool TXDFile::Unlock(uint32_t ulFlags) {
    KX_TRY
        bool released = m_data.UnLock(LockTypeOf(ulFlags), 0, 0);
        bool counted = KxFile::Unlock(ulFlags);
        if (released != counted)
            KxGenerateException("KxIO and KxFile lock counts do not match", kTXD);
        return counted;
    KX_CATCH("Unlock()", kTXD)
}

// ---------------------------------------------------------------------------------------------
// Writing

int32_t TXDFile::DataAppend(KxFileRecord& record) {
    KX_TRY
        WriteLine(m_recordCount + 1, record);
        ++m_recordCount;
        m_currentRecordNumber = m_recordCount;
        m_mapPending = false;
        m_blobMap.SetBlobIDs(record);
        if (m_blobFile != nullptr) m_blobFile->IncrementReferenceCounts(m_blobMap);
        return m_recordCount;
    KX_CATCH("DataAppend()", kTXD)
}

int32_t TXDFile::DataInsert(int32_t lRecord, KxFileRecord& record) {
    KX_TRY
        CheckRecordNumber(lRecord, m_recordCount + 1);
        CheckedLine(record, m_lineLength, m_eolType);
        int64_t moved = (static_cast<int64_t>(m_recordCount) - lRecord + 1) * m_lineLength;
        if (moved > 0)
            KxIOInterface::CopyBlock(m_data, LinePosition(lRecord), LinePosition(lRecord + 1),
                                     moved);
        WriteLine(lRecord, record);
        ++m_recordCount;
        m_currentRecordNumber = lRecord;
        m_mapPending = false;
        m_blobMap.SetBlobIDs(record);
        if (m_blobFile != nullptr) m_blobFile->IncrementReferenceCounts(m_blobMap);
        return lRecord;
    KX_CATCH("DataInsert()", kTXD)
}

void TXDFile::DataDelete(int32_t lRecord, KxFileRecord* pRecord) {
    KX_TRY
        CheckRecordNumber(lRecord, m_recordCount);
        if (pRecord == nullptr && m_currentRecord == nullptr)
            KxGenerateException("File is not open", kTXD);
        KxFileRecord& deleted = pRecord != nullptr ? *pRecord : *m_currentRecord;
        ReadLine(lRecord, deleted);
        int64_t moved = (static_cast<int64_t>(m_recordCount) - lRecord) * m_lineLength;
        if (moved > 0)
            KxIOInterface::CopyBlock(m_data, LinePosition(lRecord + 1), LinePosition(lRecord),
                                     moved);
        m_data.Truncate64(m_lineLength);
        --m_recordCount;
        if (m_blobFile != nullptr) {
            KxBlobFieldMap gone;
            gone.RebindMap(m_fields);
            gone.SetBlobIDs(deleted);
            m_blobFile->DecrementReferenceCounts(gone);
        }
        // The map keeps describing the record that is current on disk: when that was the one
        // deleted, there is none until the next GotoRecord.
        if (lRecord < m_currentRecordNumber) {
            --m_currentRecordNumber;
        } else if (lRecord == m_currentRecordNumber) {
            m_currentRecordNumber = 0;
            m_mapPending = false;
            m_blobMap.RebindMap(m_fields);
        }
    KX_CATCH("DataDelete()", kTXD)
}

void TXDFile::DataModify(int32_t lRecord, KxFileRecord& record, KxFileRecord* pOldRecord) {
    KX_TRY
        CheckRecordNumber(lRecord, m_recordCount);
        CheckedLine(record, m_lineLength, m_eolType);
        // Checked before anything is written, so that a refused modify changes nothing.
        if (m_blobFile != nullptr && lRecord != m_currentRecordNumber)
            KxGenerateException(
                "TXD file can not handle out-of-place modifies when BLOBs are used", kTXD);
        UpdateBlobMap();
        if (pOldRecord != nullptr) ReadLine(lRecord, *pOldRecord);
        WriteLine(lRecord, record);
        KxBlobFieldMap updated(m_blobMap);
        updated.RebindMap(m_fields);
        updated.SetBlobIDs(record);
        if (m_blobFile != nullptr) {
            // Up before down, so that a blob the record keeps never drops to no references.
            m_blobFile->IncrementReferenceCounts(updated);
            m_blobFile->DecrementReferenceCounts(m_blobMap);
        }
        m_blobMap = updated;
    KX_CATCH("DataModify()", kTXD)
}

void TXDFile::Empty() {
    KX_TRY
        if (m_blobFile != nullptr) m_blobFile->Empty();
        m_data.Truncate64(0);
        ClearIndexes();
        m_selectionPosition = 0;
        m_selectionCount = 0;
        m_currentRecordNumber = 0;
        m_recordCount = 0;
        m_selection.Reset(0);
        m_systemSet.Reset(0);
        m_mapPending = false;
        m_blobMap.RebindMap(m_fields);
        LoadIndexes();
    KX_CATCH("Empty()", kTXD)
}

void TXDFile::Create(const char* sFileName, const KxPointerVector<KxField>& fields,
                     uint16_t uwPrimaryKeyFields, bool withEmptyIndexes) {
    KX_TRY
        if (sFileName == nullptr) KxGenerateException("Invalid parameter (null) in Create", kTXD);
        KxString dataName(WithExtension(sFileName, GetDefaultExtension()));
        KxString structureName(WithExtension(sFileName, ".kxs"));
        // Both checked before either is written, so that a refused create leaves nothing behind.
        if (KxIOInterface::Exists(structureName))
            KxGenerateFileException("Header file \"%s\" already exists", kTXD, structureName,
                                    structureName.GetCString());
        if (KxIOInterface::Exists(dataName))
            KxGenerateFileException("Data file \"%s\" already exists", kTXD, dataName,
                                    dataName.GetCString());
        for (const KxField* field : fields)
            if (field->GetIndexCount() > 0)
                KxGenerateException("Field indexes are not supported yet (field %d)", kTXD,
                                    static_cast<int>(field->GetFieldNumber()));
        int32_t recordLength = LastFieldEnd(fields);
        if (recordLength < 1 || recordLength > kxMaxRecordLength)
            KxGenerateException("Record length (value=%d) is out of range [1..%d]", kTXD,
                                static_cast<int>(recordLength), static_cast<int>(kxMaxRecordLength));
        if (fields.GetCount() > kxMaxFields)
            KxGenerateException("Too many field sections (more than %d)", kTXD,
                                static_cast<int>(kxMaxFields));

        KxFileName oldName(m_fileName);
        uint16_t oldPrimaryKeys = m_primaryKeyFields;
        int16_t oldNumberOfFields = m_numberOfFields, oldRecordLength = m_recordLength;
        int16_t oldEOLType = m_eolType;
        auto restore = [&] {
            m_fileName = oldName;
            m_primaryKeyFields = oldPrimaryKeys;
            m_numberOfFields = oldNumberOfFields;
            m_recordLength = oldRecordLength;
            m_eolType = oldEOLType;
        };
        try {
            m_fileName = KxFileName(dataName);
            m_primaryKeyFields = uwPrimaryKeyFields;
            m_numberOfFields = static_cast<int16_t>(fields.GetCount());
            m_recordLength = static_cast<int16_t>(recordLength);
            m_eolType = kxEOLCRLF;
            if (withEmptyIndexes) BuildEmptyIndexes(dataName);
            WriteStructure(nullptr, &fields);
            KxIOInterface::Create(dataName);
        } catch (...) {
            restore();
            throw;
        }
        restore();
    KX_CATCH_STD("Create()", kTXD)
}

void TXDFile::PackFields(KxPointerVector<KxField>& fields) {
    KX_TRY
        int32_t offset = 0;
        for (KxField* field : fields) {
            if (offset > UINT16_MAX)
                KxGenerateException("Record length (value=%d) is out of range [1..%d]", kTXD,
                                    static_cast<int>(offset), static_cast<int>(kxMaxRecordLength));
            field->SetByteOffset(static_cast<uint16_t>(offset));
            offset += std::max<int32_t>(field->GetLength(), 0);
        }
    KX_CATCH("PackFields()", kTXD)
}

// The blob file and the log go with the data set: left behind, the renamed data set would lose
// its long values.
void TXDFile::RenameFile(const char* sOldName, const char* sNewName) {
    KX_TRY
        if (sOldName == nullptr || sNewName == nullptr)
            KxGenerateException("Invalid parameter (null) in RenameFile", kTXD);
        const char* extension = GetDefaultExtension();
        KxString newData(WithExtension(sNewName, extension));
        KxIOInterface::Rename(newData, WithExtension(sOldName, extension));
        KxString newStructure(WithExtension(sNewName, ".kxs"));
        KxIOInterface::Rename(newStructure, WithExtension(sOldName, ".kxs"));
        for (const char* companion : {".kxb", ".klg"}) {
            KxString from(WithExtension(sOldName, companion));
            if (KxIOInterface::Exists(from))
                KxIOInterface::Rename(WithExtension(sNewName, companion), from);
        }
        KxIniFile structure(newStructure);
        KxFileName name(newData);
        structure.GetSection(kFileInfo)->SetString("FileName", name.GetNameWithExtension());
        structure.Write();
    KX_CATCH_STD("RenameFile()", kTXD)
}

void TXDFile::RewriteRecords(const char* sNewPassword) {
    KX_TRY
        KxString fileName(GetFileName());
        KxFileName name(fileName);
        KxString tempName;
        KxIOInterface::GetTempFileName(tempName, name.GetLocation(), "~kxtxd");
        try {
            {
                KxIO temp(tempName, kxIOOpenTemporary);
                temp.SetBufferSize(kxDataBufferSize);
                std::unique_ptr<KxFileRecord> line(GetNewRecord());
                for (int32_t r = 1; r <= m_recordCount; ++r) {
                    ReadLine(r, *line);
                    line->WriteRecord(temp, sNewPassword);
                }
                temp.Close();
            }
        } catch (...) {
            try {
                KxIOInterface::Delete(tempName);
            } catch (...) {
            }
            throw;
        }
        m_rewritten = tempName;
    KX_CATCH_STD("RewriteRecords()", kTXD)
}

void TXDFile::ReplaceAndReopen(const char* sPassword) {
    KX_TRY
        KxString fileName(GetFileName());
        KxString tempName(m_rewritten);
        m_rewritten.Clear();
        Close();
        KxIOInterface::Delete(fileName);
        KxIOInterface::Rename(fileName, tempName);
        Open(fileName, kxIORead | kxIOWrite, sPassword);
    KX_CATCH("ReplaceAndReopen()", kTXD)
}

void TXDFile::KxEncrypt(const char* sPassword) {
    KX_TRY
        if (m_currentRecord == nullptr) KxGenerateException("File is not open", kTXD);
        int32_t dataLength = m_lineLength - TXDRec::EOLLength(m_eolType);
        if (dataLength > kxMaxRecordLength)
            KxGenerateException("Record length (value=%d) is out of range [1..%d]", kTXD,
                                static_cast<int>(dataLength), static_cast<int>(kxMaxRecordLength));
        KxString password(sPassword);
        RewriteRecords(password);
        try {
            SetPassword(m_password, password);
            // A scrambled file's line length comes from the structure file.
            m_recordLength = static_cast<int16_t>(dataLength);
            WriteStructure();
        } catch (...) {
            DeleteIfExists(m_rewritten);
            m_rewritten.Clear();
            throw;
        }
        ReplaceAndReopen(password);
    KX_CATCH("KxEncrypt()", kTXD)
}

void TXDFile::KxDecrypt(const char* sPassword) {
    KX_TRY
        if (m_currentRecord == nullptr) KxGenerateException("File is not open", kTXD);
        if (strcmp(sPassword != nullptr ? sPassword : "", m_password.GetCString()) != 0)
            KxGenerateException("Invalid password modification attempted.", kTXD);
        RewriteRecords("");
        try {
            SetPassword(sPassword, "");
            int32_t length = m_lineLength - TXDRec::EOLLength(m_eolType);
            {
                std::unique_ptr<KxIniFile> structure(GetIniFile(GetFileName()));
                KxString sectionName;
                sectionName.printf("Field%d", static_cast<int>(m_numberOfFields));
                if (structure->GetSectionIndex(sectionName) >= 0) {
                    KxIniSection& last = *structure->GetSection(sectionName);
                    KxIniSection& info = *structure->GetSection(kFileInfo);
                    int32_t end = last.GetInt("ByteOffset", 0) + last.GetInt("Length", 0) -
                                  info.GetInt("StartingCol", 0);
                    // Never shorter than the lines: the file must open again.
                    length = std::max(length, end);
                }
            }
            m_recordLength = static_cast<int16_t>(std::clamp<int32_t>(length, 1, kxMaxRecordLength));
            WriteStructure();
        } catch (...) {
            DeleteIfExists(m_rewritten);
            m_rewritten.Clear();
            throw;
        }
        ReplaceAndReopen("");
    KX_CATCH("KxDecrypt()", kTXD)
}

void TXDFile::Read(KxInputStreamInterface& stream) {
    KX_TRY
        KxGenerateNotImplementedError("TXDFile is not streamable", kTXD);
    KX_CATCH("Read()", kTXD)
}

void TXDFile::Write(KxOutputStreamInterface& stream) {
    KX_TRY
        KxGenerateNotImplementedError("TXDFile is not streamable", kTXD);
    KX_CATCH("Write()", kTXD)
}

const KxFileType& TXDFile::GetFileType() const {
    static const TXDFileType type;
    return type;
}

// ---------------------------------------------------------------------------------------------
// TXDFileType

void TXDFileType::GetSupportedFieldTypes(KxVector<const KxFieldType*>& types) const {
    KX_TRY
        for (char letter : {kxAlphaField, kxBinaryField, kxBlobField, kxBooleanField, kxDateField,
                            kxLongField, kxNumberField, kxShortField, kxTimestampField,
                            kxTimeField, kxUnsignedShortField, kxUnsignedLongField})
            types.push_back(KxFieldType::GetFieldType(letter));
    KX_CATCH_STD("GetSupportedFieldTypes()", kTXDType)
}

KxFile* TXDFileType::NewFile(KxInputStreamInterface& stream) const {
    KX_TRY
        KxGenerateNotImplementedError("TXDFile is not streamable", kTXDType);
    KX_CATCH("NewFile()", kTXDType)
}
