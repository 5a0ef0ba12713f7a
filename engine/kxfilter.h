// Display filters: turn a field's stored value into the text shown to a user and back. A field
// owns at most one; the registry finds filter classes by name when a structure file is read. For
// now no filter class exists and the registry is empty.
#pragma once

#include <cstdint>

#include "kxvector.h"

class KxIniSection;

// The values of a field section's FilterType key.
enum KxFilterType : int16_t {
    kxNoFilter = 1,
    kxStringFilter = 2,
    kxNumberFilter = 3,
    kxDateFilter = 4,
    kxTimeFilter = 5,
    kxTimestampFilter = 6,
};

class KxFilter : public KxArrayPointerObject {
public:
    // The name under which the filter's class is registered.
    virtual const char* GetRegistryIndex() const { return GetClassnameCString(); }
    ~KxFilter() override = default;
    virtual KxFilter* Clone() const = 0;
    virtual const char* GetClassnameCString() const = 0;
    virtual int16_t GetFilterType() const = 0;
    // The filter's own settings in a field section.
    virtual void Read(KxIniSection& section) = 0;
    virtual void Write(KxIniSection& section) const = 0;
};

class KxFilterRegistry {
public:
    // Both may be called more than once.
    static void InitRegistry();
    static void ReleaseRegistry();
    static bool IsInitialized();
};
