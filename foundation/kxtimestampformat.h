// Rendering timestamps as text by a format string and reading such text back. The record engine's
// date and time display filters implement KxTimestampFormatter on top of KxTimestampFormat.
//
// A format string is literal text with conversions "%" [0] [width] letter:
//   %% percent  y four-digit year  Y two-digit year  m month  M "Jan"  L "January"  d day
//   w "Sun"  W "Sunday"  H hour 0..23  h (or lh, zh) hour 1..12  n minutes  s seconds
//   u milliseconds  p "am"/"pm"  P "AM"/"PM"
// Numbers get at least one digit and are padded on the left to the width (with zeros after a 0,
// else blanks); names are left-justified in it; %% is right-justified.
#pragma once

#include <cstdint>

#include "kxstring.h"
#include "kxtimestamp.h"
#include "kxvector.h"

class KxTimestampFormatter {
public:
    virtual ~KxTimestampFormatter() = default;
    // Writes the text and its terminating 0; lSize must leave room for both.
    virtual void FilterTimestamp(const KxTimestamp& timestamp, char* pBuffer,
                                 int32_t lSize) const = 0;
    virtual KxTimestamp UnfilterTimestamp(const char* pText) const = 0;
};

// One conversion of a format string, from its "%" to its letter.
class KxTimestampFilterConversion {
public:
    // A "%%" conversion.
    KxTimestampFilterConversion() = default;
    // The text must be one whole conversion, such as "%02d".
    explicit KxTimestampFilterConversion(const char* pText);

    char GetLetter() const { return m_letter; }
    int32_t GetWidth() const { return m_width; }
    bool GetZeroFill() const { return m_zeroFill; }
    // The most characters it writes: its width or the letter's minimum, whichever is larger.
    int32_t GetDisplayLength() const;

    // The rendered part.
    KxString Filter(const KxTimestamp& timestamp) const;

    static constexpr int32_t kxMaxWidth = 99;

private:
    char m_letter = '%';
    int32_t m_width = 0;
    bool m_zeroFill = false;
};

class KxTimestampFormat : public KxTimestampFormatter {
public:
    KxTimestampFormat() = default;
    explicit KxTimestampFormat(const char* pFormat);
    KxTimestampFormat(const KxTimestampFormat& other) = default;
    KxTimestampFormat& operator=(const KxTimestampFormat& other) = default;
    ~KxTimestampFormat() override = default;

    // An empty or null format clears it. A failure leaves the format as it was.
    void SetFormat(const char* pFormat);
    const char* GetFormat() const { return m_format.GetCString(); }
    // The characters a rendering can take at most, the terminating 0 not counted.
    int32_t GetDisplayLength() const { return m_displayLength; }

    void FilterTimestamp(const KxTimestamp& timestamp, char* pBuffer,
                         int32_t lSize) const override;
    KxString Filter(const KxTimestamp& timestamp) const;

    // Reads text written by this format; blanks around it and padding blanks before numbers are
    // accepted. Parts the format lacks take the values of a new timestamp. A two-digit year
    // below 50 falls in the 2000s, others in the 1900s; %h is taken as 1..12 and, without %p,
    // as the hour itself.
    KxTimestamp UnfilterTimestamp(const char* pText) const override;

private:
    // Literal text, then the conversion that follows it (none in a trailing literal).
    struct Piece {
        KxString literal;
        bool hasConversion = false;
        KxTimestampFilterConversion conversion;
    };

    KxString m_format;
    KxVector<Piece> m_pieces;
    int32_t m_displayLength = 0;
};

// The process-wide default formats: dates "%M %d, %y", times "%h:%02n:%02s %p".
const KxTimestampFormat& KxGetDefaultDateFormat();
const KxTimestampFormat& KxGetDefaultTimeFormat();
