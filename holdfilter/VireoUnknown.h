#pragma once

#include <cstdint>
#include <cstring>

#include "Result.h"

// The small object model shared by the hold element's property store, the element and its
// property page: 128-bit interface identifiers and a counted-reference base interface. It
// mirrors the component model the store was designed for, so that a store handed from one
// owner to another keeps exactly one identity and one reference count.

struct VireoGuid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];

    friend bool operator==(const VireoGuid& a, const VireoGuid& b) {
        return std::memcmp(&a, &b, sizeof(VireoGuid)) == 0;
    }
};

// {00000000-0000-0000-C000-000000000046}: the identity of every object.
inline constexpr VireoGuid IID_IVireoUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Base of every interface: QueryInterface hands out one more reference on success (*out is
// null on failure); Release destroys the object when the count reaches zero.
class IVireoUnknown {
public:
    virtual HRESULT QueryInterface(const VireoGuid& iid, void** out) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IVireoUnknown() = default;
};
