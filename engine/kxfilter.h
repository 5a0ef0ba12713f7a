// Display filters: turn a field's stored value into the text shown to a user and back. A field
// owns at most one; the registry finds filter classes by name when a structure file is read.
#pragma once

#include <cstdint>

#include "kxstring.h"
#include "kxtimestampformat.h"
#include "kxvector.h"

class KxIniSection;
class KxInputStreamInterface;
class KxOutputStreamInterface;
class KxProgressReport;

// The values of a field section's FilterType key.
enum KxFilterType : int16_t {
    kxNoFilter = 1,
    kxStringFilter = 2,
    kxNumberFilter = 3,
    kxDateFilter = 4,
    kxTimeFilter = 5,
    kxTimestampFilter = 6,
};

// A field's value as a record hands it to a filter. Numeric types (N, $, I, S, U, W, L) carry
// the number; every type carries a text: the raw text of A, B, D, @ and T, the default display
// text of the numeric types.
struct KxFilterValue {
    char type = 0;
    bool blank = false;
    double number = 0;
    const char* text = "";
    // The room of the display text, its terminating 0 included; 0 for no limit. A number that
    // does not fit is shown as asterisks rather than cut.
    uint32_t destLength = 0;
};

// What a filter makes of display text for a field: the number (numeric result), a text that
// stands for the value, or the blank value.
struct KxUnfilteredValue {
    enum Kind { kxNone, kxNumber, kxText, kxBlank };
    Kind kind = kxNone;
    double number = 0;
    KxString text;
};

class KxFilter : public KxArrayPointerObject {
public:
    // The stream form starts with this header type, the filter type code and this version.
    static constexpr int8_t kxStreamHeaderType = 30;
    static constexpr int16_t kxStreamVersion = 1;

    // The name under which the filter's class is registered.
    virtual const char* GetRegistryIndex() const { return GetClassnameCString(); }
    ~KxFilter() override = default;
    virtual KxFilter* Clone() const = 0;
    virtual const char* GetClassnameCString() const { return "KxFilter"; }
    virtual int16_t GetFilterType() const = 0;
    // The filter's own settings in a field section (the registry keys are the field's).
    virtual void Read(KxIniSection& section, KxProgressReport* pProgress) = 0;
    // The header, then the settings; a header of another filter fails.
    virtual void Read(KxInputStreamInterface& stream);
    virtual void Write(KxIniSection& section, KxProgressReport* pProgress) const = 0;
    virtual void Write(KxOutputStreamInterface& stream) const;
    // Without a progress report; a null section fails.
    void Read(KxIniSection* pIniSection);
    void Write(KxIniSection* pIniSection) const;

    // The display text of a field's value; false when the filter does not show values of that
    // type, and the field's default text stands.
    virtual bool FilterField(const KxFilterValue& value, KxString& sText) const = 0;
    // The value the display text stands for in a field of the type; kind kxNone when the
    // filter does not read values of that type.
    virtual KxUnfilteredValue UnfilterField(char type, const char* pText) const = 0;

protected:
    KxFilter() = default;
    KxFilter(const KxFilter&) = default;
    KxFilter& operator=(const KxFilter&) = default;

    // The settings of the stream form, after the header.
    virtual void ReadSettings(KxInputStreamInterface& stream) = 0;
    virtual void WriteSettings(KxOutputStreamInterface& stream) const = 0;
};

// Picture strings: # a digit, ? a letter, & a letter in upper case, @ any character, ! any
// character in upper case, ; the next character literally, {...} a group, [...] one optional
// part, *n the next character or group n times, * the last one repeated until the input ends;
// anything else is a literal.
class KxStringFilter : public KxFilter {
public:
    // The codes of the picture failures (KxStringExceptions carry them as their character).
    enum Code : char {
        kxEmptyPicture = 1,
        kxUnsupportedOption = 2,
        kxGroupSyntax = 3,
        kxLiteralSyntax = 4,
        kxOptionalSyntax = 5,
        kxRepeatSyntax = 6,
        kxFilterError = 7,
        kxUnfilterError = 8,
    };
    // No text the filter writes grows beyond this, however the picture repeats.
    static constexpr int32_t kxMaxFilteredLength = 32767;

    KxStringFilter() = default;
    KxStringFilter(const KxStringFilter& other) = default;
    KxStringFilter& operator=(const KxStringFilter& other) = default;
    ~KxStringFilter() override = default;
    KxFilter* Clone() const override;
    const char* GetClassnameCString() const override { return "KxStringFilter"; }
    int16_t GetFilterType() const override { return kxStringFilter; }
    using KxFilter::Read;
    using KxFilter::Write;
    void Read(KxIniSection& section, KxProgressReport* pProgress) override;
    void Write(KxIniSection& section, KxProgressReport* pProgress) const override;

    // Checked first; a failure leaves the picture as it was.
    void SetPictureString(const char* sPicture);
    const char* GetPictureString() const { return m_picture.GetCString(); }
    void SetMissingString(const char* sMissing);
    const char* GetMissingString() const { return m_missing.GetCString(); }
    static void SyntaxCheck(const char* sPicture);

    // Empty text becomes the missing string. Without a picture the text is shown as it is.
    KxString FilterValue(const char* pText) const;
    // The missing string becomes empty text.
    KxString UnfilterValue(const char* pText) const;

    bool FilterField(const KxFilterValue& value, KxString& sText) const override;
    KxUnfilteredValue UnfilterField(char type, const char* pText) const override;

protected:
    void ReadSettings(KxInputStreamInterface& stream) override;
    void WriteSettings(KxOutputStreamInterface& stream) const override;

private:
    KxString m_missing;
    KxString m_picture;
};

class KxNumberFilter : public KxFilter {
public:
    enum SignPlacement : int16_t { kxSignBefore = 1, kxSignAfter = 2, kxSignParenthesis = 3 };
    enum FillSide : int16_t { kxFillRight = 1, kxFillLeft = 2 };
    // The missing values of each form.
    static constexpr double kxMissingNumber = -1e30;
    static constexpr int32_t kxMissingLong = INT32_MIN;
    static constexpr int16_t kxMissingShort = INT16_MIN;

    KxNumberFilter() = default;
    KxNumberFilter(const KxNumberFilter& other) = default;
    KxNumberFilter& operator=(const KxNumberFilter& other) = default;
    ~KxNumberFilter() override = default;
    KxFilter* Clone() const override;
    const char* GetClassnameCString() const override { return "KxNumberFilter"; }
    int16_t GetFilterType() const override { return kxNumberFilter; }
    using KxFilter::Read;
    using KxFilter::Write;
    void Read(KxIniSection& section, KxProgressReport* pProgress) override;
    void Write(KxIniSection& section, KxProgressReport* pProgress) const override;

    // The text into pDest, at most ulDestLength - 1 characters and its terminating 0. A text
    // that does not fit becomes asterisks.
    void FilterValue(double value, char* pDest, uint32_t ulDestLength) const;
    void FilterValue(int32_t value, char* pDest, uint32_t ulDestLength) const;
    void FilterValue(int16_t value, char* pDest, uint32_t ulDestLength) const;
    KxString FilterValue(double value) const;
    // Reads the filter's own output back (prefix, suffix, separators, sign, fill and the
    // missing string); empty text is the missing value.
    double UnfilterValue(const char* pText) const;

    const char* GetMissingString() const { return m_missing.GetCString(); }
    int16_t GetDecimalPlaces() const { return m_decimals; }
    int16_t GetNegativeSignPlacement() const { return m_signPlacement; }
    bool GetFixWidth() const { return m_fixWidth; }
    int16_t GetFixWidthLength() const { return m_fixWidthLength; }
    char GetFillChar() const { return m_fillChar; }
    int16_t GetFillSide() const { return m_fillSide; }
    int16_t GetRoundingPlace() const { return m_roundingPlace; }
    bool GetSuppressZero() const { return m_suppressZero; }
    bool GetLeadingZero() const { return m_leadingZero; }
    bool GetThousandSeparator() const { return m_thousandSeparator; }
    const char* GetPrefix() const { return m_prefix.GetCString(); }
    const char* GetSuffix() const { return m_suffix.GetCString(); }

    void SetMissingString(const char* sMissing);
    void SetDecimalPlaces(int16_t wPlaces) { m_decimals = wPlaces; }
    void SetNegativeSignPlacement(int16_t wPlacement);
    void SetFixWidth(bool fix) { m_fixWidth = fix; }
    // 1..32.
    void SetFixWidthLength(int16_t wLength);
    // The character 0 is a blank.
    void SetFillChar(char c) { m_fillChar = c != '\0' ? c : ' '; }
    void SetFillSide(int16_t wSide);
    // 0 does not round, r >= 1 rounds to the digit r - 1 places left of the units, r < 0 to -r
    // decimals.
    void SetRoundingPlace(int16_t wPlace) { m_roundingPlace = wPlace; }
    void SetSuppressZero(bool suppress) { m_suppressZero = suppress; }
    void SetLeadingZero(bool leading) { m_leadingZero = leading; }
    void SetThousandSeparator(bool separate) { m_thousandSeparator = separate; }
    void SetPrefix(const char* sPrefix);
    void SetSuffix(const char* sSuffix);

    bool FilterField(const KxFilterValue& value, KxString& sText) const override;
    KxUnfilteredValue UnfilterField(char type, const char* pText) const override;

protected:
    void ReadSettings(KxInputStreamInterface& stream) override;
    void WriteSettings(KxOutputStreamInterface& stream) const override;

private:
    // The digits of a magnitude, made into the display text.
    KxString FilterNumber(const KxString& sDigits, bool negative) const;
    // The text as it fits a destination of that length (0: any); a number that does not fit
    // becomes asterisks, the missing string is cut.
    KxString Fit(const KxString& sText, bool missing, uint32_t ulDestLength) const;
    void Store(const KxString& sText, bool missing, char* pDest, uint32_t ulDestLength) const;
    KxString FilterInteger(int32_t value) const;

    KxString m_missing;
    int16_t m_decimals = 2;
    int16_t m_signPlacement = kxSignBefore;
    bool m_fixWidth = false;
    int16_t m_fixWidthLength = 10;
    char m_fillChar = ' ';
    int16_t m_fillSide = kxFillRight;
    int16_t m_roundingPlace = 1;
    bool m_suppressZero = false;
    bool m_leadingZero = false;
    bool m_thousandSeparator = false;
    KxString m_prefix;
    KxString m_suffix;
};

// Dates, times and timestamps by a format string (see kxtimestampformat.h). Without a format
// the process-wide default date or time format is used.
class KxTimestampFilter : public KxFilter, public KxTimestampFormatter {
public:
    KxTimestampFilter() = default;
    KxTimestampFilter(const KxTimestampFilter& other) = default;
    KxTimestampFilter& operator=(const KxTimestampFilter& other) = default;
    ~KxTimestampFilter() override = default;
    KxFilter* Clone() const override;
    const char* GetClassnameCString() const override { return "KxTimestampFilter"; }
    int16_t GetFilterType() const override { return kxTimestampFilter; }
    using KxFilter::Read;
    using KxFilter::Write;
    // A section without "Date Format String" holds the older date settings; they are read only
    // for a date filter, whose display they describe.
    void Read(KxIniSection& section, KxProgressReport* pProgress) override;
    void Write(KxIniSection& section, KxProgressReport* pProgress) const override;

    // An empty or null format clears it; a failure leaves the format as it was.
    void SetFormat(const char* sFormat);
    const char* GetFormat() const { return m_format.GetFormat(); }
    // The format the older date settings describe (Date Format, Zero Fill, Four Digit Year,
    // First and Second Separator, Month Format).
    static KxString FormatFromOlderSettings(KxIniSection& section);

    // At least GetDisplayLength() + 1 bytes.
    void FilterTimestamp(const KxTimestamp& timestamp, char* pBuffer,
                         int32_t lSize) const override;
    KxString FilterTimestamp(const KxTimestamp& timestamp) const;
    KxTimestamp UnfilterTimestamp(const char* pText) const override;
    int32_t GetDisplayLength() const { return Effective().GetDisplayLength(); }

    bool FilterField(const KxFilterValue& value, KxString& sText) const override;
    KxUnfilteredValue UnfilterField(char type, const char* pText) const override;

protected:
    void ReadSettings(KxInputStreamInterface& stream) override;
    void WriteSettings(KxOutputStreamInterface& stream) const override;

private:
    const KxTimestampFormat& Effective() const;

    KxTimestampFormat m_format;
};

class KxDateFilter : public KxTimestampFilter {
public:
    KxDateFilter() = default;
    KxFilter* Clone() const override;
    const char* GetClassnameCString() const override { return "KxDateFilter"; }
    int16_t GetFilterType() const override { return kxDateFilter; }
};

class KxTimeFilter : public KxTimestampFilter {
public:
    KxTimeFilter() = default;
    KxFilter* Clone() const override;
    const char* GetClassnameCString() const override { return "KxTimeFilter"; }
    int16_t GetFilterType() const override { return kxTimeFilter; }
};

// The process-wide registry: registry name to a prototype filter (owned).
class KxFilterRegistry {
public:
    // Registers the five filter classes; both may be called more than once.
    static void InitRegistry();
    static void ReleaseRegistry();
    static bool IsInitialized();

    // Stores a clone under the filter's registry name; a name taken by another class fails.
    static void Register(const KxFilter& filter);
    // A new filter (owned by the caller) cloned from the prototype of that name.
    static KxFilter* GetFilterFromRegistry(const char* sRegistryIndex);
    static void CheckCompatibilityBetweenFilterTypeAndInheritancePath(const KxFilter& filter,
                                                                      int16_t wFilterType);

    // The filter a field section declares (FilterType, KxFilter.RegistryIndex and the filter's
    // own settings), owned by the caller; null for none. With strict off a registry name that is
    // not registered gives none instead of failing.
    static KxFilter* ReadFilter(KxIniSection& section, bool strict);
    // FilterType, KxFilter.RegistryIndex, then the filter's settings.
    static void WriteFilter(KxIniSection& section, const KxFilter& filter);
};
