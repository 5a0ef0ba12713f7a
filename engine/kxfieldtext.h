// A field's value shown through its value format or display filter, and display text read back
// through them: what a record's formatted display text and its parsing modes 1 and 2 do with a
// format or a filter.
#pragma once

#include <cstdint>

class KxField;
class KxFileRecord;
class KxString;

class KxFieldText {
public:
    // The field's value through its format (option 1) or filter (option 2), to fit a destination
    // of ulDestLength bytes (its terminating 0 included; 0 for any). False when the field has
    // neither, or they do not show this value: the record's default text stands.
    static bool Show(const KxFileRecord& record, uint16_t uwFieldIndex, KxField& field,
                     uint32_t ulDestLength, KxString& sText);

    // What the display text stands for in the field, through its format (mode 1) or filter
    // (mode 2); without them, or when they do not read it, the plain conversion. For the numeric
    // types pValue (8 bytes) receives the value in the field type's binary form. Returns the text
    // to store for the text types (pText or sHolder), or null when the text stands for the blank
    // value.
    static const char* Parse(KxField& field, int16_t iMode, const char* pText, void* pValue,
                             KxString& sHolder);
};
