#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "VireoUnknown.h"

// {3F5ABDA0-4C47-4193-8B24-CEEEF8E699DE}
inline constexpr VireoGuid IID_IVireoProperties = {
    0x3F5ABDA0, 0x4C47, 0x4193, {0x8B, 0x24, 0xCE, 0xEE, 0xF8, 0xE6, 0x99, 0xDE}};

// Type code of a stored value.
enum PropType : std::int32_t {
    PropBool = 1,      // 32-bit integer, 0 or nonzero
    PropUShort = 2,    // first 2 bytes
    PropULong = 3,     // first 4 bytes
    PropShort = 4,     // first 2 bytes
    PropLong = 5,      // first 4 bytes
    PropLongLong = 6,  // first 8 bytes (generic SetValue/GetValue only)
    PropFloat = 7,     // first 4 bytes
    PropDouble = 8,    // first 8 bytes
    PropHandle = 9,    // first 4 bytes, never interpreted
    PropString = 10,   // the text field; the value area is unused
    PropObject = 11,   // an IVireoUnknown pointer, counted by the store
};

// Longest name the store accepts, in bytes (names travel in 260-byte buffers).
inline constexpr std::size_t kMaxPropNameLength = 259;

// The record exchanged with the store. `text` is a malloc'd, NUL-terminated text owned by
// whoever holds the record (free it with PropValueFree); a value-initialised record is empty
// and safe to hand to GetValue.
struct PropValue {
    std::int32_t type = 0;
    union {
        std::uint8_t bytes[16];
        std::int32_t boolValue;
        std::uint16_t ushortValue;
        std::uint32_t ulongValue;
        std::int16_t shortValue;
        std::int32_t longValue;
        std::int64_t longlongValue;
        float floatValue;
        double doubleValue;
        std::uint32_t handleValue;
        IVireoUnknown* objectValue;
    } value{};
    char* text = nullptr;
    char auxText[32] = {};
};

// Frees the record's text and sets it to null.
void PropValueFree(PropValue* value);

// Receives the store's change notification (NotifyChanged). Not counted by the store.
class IVireoPropertiesSink {
public:
    virtual HRESULT OnPropertiesChanged() = 0;

protected:
    ~IVireoPropertiesSink() = default;
};

// Named, typed values with a change flag and a change callback. The method order is the
// interface's slot order and part of its contract. No lock: the owner serialises access.
class IVireoProperties : public IVireoUnknown {
public:
    // count null -> E_POINTER; names given with *count 0 -> E_INVALIDARG. Without names,
    // *count becomes the number of entries; with names, up to *count pointers to the store's
    // own copies (valid until the store changes) are filled in name order and *count becomes
    // the number filled.
    virtual HRESULT GetNames(const char** names, std::uint32_t* count) = 0;
    // E_POINTER for null arguments, E_FAIL when absent (record untouched). Frees the text the
    // record holds, then copies; an object pointer is copied without a reference.
    virtual HRESULT GetValue(const char* name, PropValue* value) = 0;
    // Stores an owned copy (a reference for an object) under name and raises the change flag.
    // E_POINTER for null arguments, E_INVALIDARG for a name longer than kMaxPropNameLength,
    // E_OUTOFMEMORY when the copy cannot be made (the old entry then stays).
    virtual HRESULT SetValue(const char* name, const PropValue* value) = 0;
    virtual HRESULT ReservedA(std::intptr_t a, std::intptr_t b) = 0;  // always E_FAIL
    virtual HRESULT ReservedB(std::intptr_t a, std::intptr_t b) = 0;  // always E_FAIL
    virtual HRESULT Remove(const char* name) = 0;                     // S_OK, present or not
    // Copies every entry of other into this store, in other's order; stops at the first
    // failure and returns it.
    virtual HRESULT Merge(IVireoProperties* other) = 0;
    virtual HRESULT Clear() = 0;  // the change flag is untouched
    virtual HRESULT SetChanged(std::int32_t changed) = 0;
    virtual HRESULT NotifyChanged() = 0;  // calls the sink, if any; S_OK
    virtual HRESULT IsChanged() = 0;      // the change flag itself: S_OK (0) or S_FALSE (1)
    virtual HRESULT SetBool(const char* name, std::int32_t value) = 0;
    virtual HRESULT SetUShort(const char* name, std::uint16_t value) = 0;
    virtual HRESULT SetULong(const char* name, std::uint32_t value) = 0;
    virtual HRESULT SetShort(const char* name, std::int16_t value) = 0;
    virtual HRESULT SetLong(const char* name, std::int32_t value) = 0;
    virtual HRESULT SetFloat(const char* name, float value) = 0;
    virtual HRESULT SetDouble(const char* name, double value) = 0;
    virtual HRESULT SetHandle(const char* name, std::uint32_t value) = 0;
    virtual HRESULT SetString(const char* name, const char* value) = 0;
    virtual HRESULT SetObject(const char* name, IVireoUnknown* value) = 0;
    // Typed getters: a text value is converted (strtol/strtoul base 0, strtod, "true"/"false"
    // for GetBool); any other type gives the first bytes of its value area, reinterpreted.
    // On failure the out-parameter is untouched.
    virtual HRESULT GetBool(const char* name, std::int32_t* value) = 0;
    virtual HRESULT GetUShort(const char* name, std::uint16_t* value) = 0;
    virtual HRESULT GetULong(const char* name, std::uint32_t* value) = 0;
    virtual HRESULT GetShort(const char* name, std::int16_t* value) = 0;
    virtual HRESULT GetLong(const char* name, std::int32_t* value) = 0;
    virtual HRESULT GetFloat(const char* name, float* value) = 0;
    virtual HRESULT GetDouble(const char* name, double* value) = 0;
    virtual HRESULT GetHandle(const char* name, std::uint32_t* value) = 0;
    virtual HRESULT GetObject(const char* name, IVireoUnknown** value) = 0;  // no reference added

protected:
    ~IVireoProperties() = default;
};

// The store. Created with Create (one reference for the caller); the owner sets the sink.
class VireoProperties final : public IVireoProperties {
public:
    static HRESULT Create(VireoProperties** out);

    // The owner's change callback; not counted, so the owner clears it before it goes away.
    void SetSink(IVireoPropertiesSink* sink) { m_sink = sink; }

    HRESULT QueryInterface(const VireoGuid& iid, void** out) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;

    HRESULT GetNames(const char** names, std::uint32_t* count) override;
    HRESULT GetValue(const char* name, PropValue* value) override;
    HRESULT SetValue(const char* name, const PropValue* value) override;
    HRESULT ReservedA(std::intptr_t a, std::intptr_t b) override;
    HRESULT ReservedB(std::intptr_t a, std::intptr_t b) override;
    HRESULT Remove(const char* name) override;
    HRESULT Merge(IVireoProperties* other) override;
    HRESULT Clear() override;
    HRESULT SetChanged(std::int32_t changed) override;
    HRESULT NotifyChanged() override;
    HRESULT IsChanged() override;
    HRESULT SetBool(const char* name, std::int32_t value) override;
    HRESULT SetUShort(const char* name, std::uint16_t value) override;
    HRESULT SetULong(const char* name, std::uint32_t value) override;
    HRESULT SetShort(const char* name, std::int16_t value) override;
    HRESULT SetLong(const char* name, std::int32_t value) override;
    HRESULT SetFloat(const char* name, float value) override;
    HRESULT SetDouble(const char* name, double value) override;
    HRESULT SetHandle(const char* name, std::uint32_t value) override;
    HRESULT SetString(const char* name, const char* value) override;
    HRESULT SetObject(const char* name, IVireoUnknown* value) override;
    HRESULT GetBool(const char* name, std::int32_t* value) override;
    HRESULT GetUShort(const char* name, std::uint16_t* value) override;
    HRESULT GetULong(const char* name, std::uint32_t* value) override;
    HRESULT GetShort(const char* name, std::int16_t* value) override;
    HRESULT GetLong(const char* name, std::int32_t* value) override;
    HRESULT GetFloat(const char* name, float* value) override;
    HRESULT GetDouble(const char* name, double* value) override;
    HRESULT GetHandle(const char* name, std::uint32_t* value) override;
    HRESULT GetObject(const char* name, IVireoUnknown** value) override;

private:
    VireoProperties() = default;
    ~VireoProperties();

    // Builds a zeroed record of the type and hands it to SetValue through the interface.
    HRESULT SetTyped(const char* name, PropType type, const void* data, std::size_t size);
    template <typename T>
    HRESULT GetTyped(const char* name, T* value, T (*fromText)(const char*));
    static void ReleaseEntry(PropValue& value);

    std::atomic<std::uint32_t> m_refs{0};
    std::map<std::string, PropValue> m_entries;  // std::string orders bytes as unsigned
    std::int32_t m_changed = 0;
    IVireoPropertiesSink* m_sink = nullptr;
};
