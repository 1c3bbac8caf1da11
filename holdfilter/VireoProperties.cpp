#include "VireoProperties.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <vector>

void PropValueFree(PropValue* value) {
    if (!value) return;
    std::free(value->text);
    value->text = nullptr;
}

HRESULT VireoProperties::Create(VireoProperties** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) VireoProperties();
    if (!*out) return E_OUTOFMEMORY;
    (*out)->AddRef();
    return S_OK;
}

VireoProperties::~VireoProperties() {
    Clear();
}

HRESULT VireoProperties::QueryInterface(const VireoGuid& iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IVireoUnknown || iid == IID_IVireoProperties) {
        *out = static_cast<IVireoProperties*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

std::uint32_t VireoProperties::AddRef() {
    return ++m_refs;
}

std::uint32_t VireoProperties::Release() {
    const std::uint32_t left = --m_refs;
    if (left == 0) delete this;
    return left;
}

void VireoProperties::ReleaseEntry(PropValue& value) {
    if (value.type == PropObject && value.value.objectValue) value.value.objectValue->Release();
    value.value.objectValue = nullptr;
    PropValueFree(&value);
}

HRESULT VireoProperties::GetNames(const char** names, std::uint32_t* count) {
    if (!count) return E_POINTER;
    if (names && *count == 0) return E_INVALIDARG;
    if (!names) {
        *count = static_cast<std::uint32_t>(m_entries.size());
        return S_OK;
    }
    std::uint32_t filled = 0;
    for (auto it = m_entries.begin(); it != m_entries.end() && filled < *count; ++it)
        names[filled++] = it->first.c_str();
    *count = filled;
    return S_OK;
}

HRESULT VireoProperties::GetValue(const char* name, PropValue* value) {
    if (!name || !value) return E_POINTER;
    auto it = m_entries.find(name);
    if (it == m_entries.end()) return E_FAIL;
    const PropValue& stored = it->second;
    char* text = nullptr;
    if (stored.type == PropString && stored.text) {
        text = strdup(stored.text);
        if (!text) return E_OUTOFMEMORY;
    }
    PropValueFree(value);
    value->type = stored.type;
    std::memcpy(value->auxText, stored.auxText, sizeof(value->auxText));
    if (stored.type == PropString)
        value->text = text;
    else
        std::memcpy(value->value.bytes, stored.value.bytes, sizeof(value->value.bytes));
    return S_OK;
}

HRESULT VireoProperties::SetValue(const char* name, const PropValue* value) {
    if (!name || !value) return E_POINTER;
    if (std::strlen(name) > kMaxPropNameLength) return E_INVALIDARG;
    PropValue copy;
    copy.type = value->type;
    std::memcpy(copy.auxText, value->auxText, sizeof(copy.auxText));
    copy.auxText[sizeof(copy.auxText) - 1] = '\0';
    if (value->type == PropString) {
        if (value->text && !(copy.text = strdup(value->text))) return E_OUTOFMEMORY;
    } else {
        std::memcpy(copy.value.bytes, value->value.bytes, sizeof(copy.value.bytes));
    }
    auto it = m_entries.find(name);
    if (it == m_entries.end()) {
        try {
            it = m_entries.emplace(name, PropValue{}).first;
        } catch (const std::bad_alloc&) {
            PropValueFree(&copy);  // the old entry (there is none) stays as it was
            return E_OUTOFMEMORY;
        }
    }
    if (copy.type == PropObject && copy.value.objectValue) copy.value.objectValue->AddRef();
    // The new value is in place before the old one is released: releasing an object may run
    // code that looks at this store again, and the old object may be the new one.
    PropValue old = it->second;
    it->second = copy;
    ReleaseEntry(old);
    SetChanged(1);
    return S_OK;
}

HRESULT VireoProperties::ReservedA(std::intptr_t, std::intptr_t) {
    return E_FAIL;
}
HRESULT VireoProperties::ReservedB(std::intptr_t, std::intptr_t) {
    return E_FAIL;
}

HRESULT VireoProperties::Remove(const char* name) {
    if (!name) return E_POINTER;
    auto it = m_entries.find(name);
    if (it == m_entries.end()) return S_OK;
    // Unlink first: releasing an object may run code that looks at this store again.
    PropValue gone = it->second;
    m_entries.erase(it);
    ReleaseEntry(gone);
    return S_OK;
}

HRESULT VireoProperties::Merge(IVireoProperties* other) {
    if (!other) return E_POINTER;
    std::uint32_t count = 0;
    HRESULT hr = other->GetNames(nullptr, &count);
    if (FAILED(hr)) return hr;
    if (count == 0) return S_OK;
    // The names are copied before anything is set: the other store's name pointers die with
    // its next change, and the other store may be this one.
    std::vector<std::string> names;
    try {
        std::vector<const char*> raw(count);
        hr = other->GetNames(raw.data(), &count);
        if (FAILED(hr)) return hr;
        names.assign(raw.begin(), raw.begin() + count);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (const std::string& name : names) {
        PropValue value;
        hr = other->GetValue(name.c_str(), &value);
        if (SUCCEEDED(hr)) hr = SetValue(name.c_str(), &value);
        PropValueFree(&value);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT VireoProperties::Clear() {
    std::map<std::string, PropValue> gone;
    gone.swap(m_entries);
    for (auto& entry : gone) ReleaseEntry(entry.second);
    return S_OK;
}

HRESULT VireoProperties::SetChanged(std::int32_t changed) {
    m_changed = changed;
    return S_OK;
}

HRESULT VireoProperties::NotifyChanged() {
    if (m_sink) m_sink->OnPropertiesChanged();
    return S_OK;
}

HRESULT VireoProperties::IsChanged() {
    return m_changed;
}

HRESULT VireoProperties::SetTyped(const char* name, PropType type, const void* data,
                                  std::size_t size) {
    PropValue value;
    value.type = type;
    std::memcpy(value.value.bytes, data, size);
    return static_cast<IVireoProperties*>(this)->SetValue(name, &value);
}

HRESULT VireoProperties::SetBool(const char* name, std::int32_t v) {
    return SetTyped(name, PropBool, &v, sizeof v);
}
HRESULT VireoProperties::SetUShort(const char* name, std::uint16_t v) {
    return SetTyped(name, PropUShort, &v, sizeof v);
}
HRESULT VireoProperties::SetULong(const char* name, std::uint32_t v) {
    return SetTyped(name, PropULong, &v, sizeof v);
}
HRESULT VireoProperties::SetShort(const char* name, std::int16_t v) {
    return SetTyped(name, PropShort, &v, sizeof v);
}
HRESULT VireoProperties::SetLong(const char* name, std::int32_t v) {
    return SetTyped(name, PropLong, &v, sizeof v);
}
HRESULT VireoProperties::SetFloat(const char* name, float v) {
    return SetTyped(name, PropFloat, &v, sizeof v);
}
HRESULT VireoProperties::SetDouble(const char* name, double v) {
    return SetTyped(name, PropDouble, &v, sizeof v);
}
HRESULT VireoProperties::SetHandle(const char* name, std::uint32_t v) {
    return SetTyped(name, PropHandle, &v, sizeof v);
}
HRESULT VireoProperties::SetObject(const char* name, IVireoUnknown* v) {
    return SetTyped(name, PropObject, &v, sizeof v);
}

HRESULT VireoProperties::SetString(const char* name, const char* v) {
    PropValue value;
    value.type = PropString;
    value.text = const_cast<char*>(v);  // SetValue copies it; the record never frees it
    return static_cast<IVireoProperties*>(this)->SetValue(name, &value);
}

namespace {

// Text conversions of the typed getters: base 0 accepts decimal, "0x" hexadecimal and a
// leading "0" for octal; results are truncated to the getter's width.
std::int32_t BoolFromText(const char* text) {
    if (strcasecmp(text, "true") == 0) return 1;
    if (strcasecmp(text, "false") == 0) return 0;
    return static_cast<std::int32_t>(std::strtol(text, nullptr, 0));
}
std::uint16_t UShortFromText(const char* text) {
    return static_cast<std::uint16_t>(std::strtoul(text, nullptr, 0));
}
std::uint32_t ULongFromText(const char* text) {
    return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0));
}
std::int16_t ShortFromText(const char* text) {
    return static_cast<std::int16_t>(std::strtol(text, nullptr, 0));
}
std::int32_t LongFromText(const char* text) {
    return static_cast<std::int32_t>(std::strtol(text, nullptr, 0));
}
float FloatFromText(const char* text) {
    return static_cast<float>(std::strtod(text, nullptr));
}
double DoubleFromText(const char* text) {
    return std::strtod(text, nullptr);
}

}  // namespace

template <typename T>
HRESULT VireoProperties::GetTyped(const char* name, T* out, T (*fromText)(const char*)) {
    PropValue value;
    const HRESULT hr = static_cast<IVireoProperties*>(this)->GetValue(name, &value);
    if (FAILED(hr)) return hr;
    if (!out) {
        PropValueFree(&value);
        return E_POINTER;
    }
    if (value.type == PropString && fromText)
        *out = fromText(value.text ? value.text : "");
    else
        std::memcpy(out, value.value.bytes, sizeof(T));
    PropValueFree(&value);
    return hr;
}

HRESULT VireoProperties::GetBool(const char* name, std::int32_t* v) {
    return GetTyped(name, v, BoolFromText);
}
HRESULT VireoProperties::GetUShort(const char* name, std::uint16_t* v) {
    return GetTyped(name, v, UShortFromText);
}
HRESULT VireoProperties::GetULong(const char* name, std::uint32_t* v) {
    return GetTyped(name, v, ULongFromText);
}
HRESULT VireoProperties::GetShort(const char* name, std::int16_t* v) {
    return GetTyped(name, v, ShortFromText);
}
HRESULT VireoProperties::GetLong(const char* name, std::int32_t* v) {
    return GetTyped(name, v, LongFromText);
}
HRESULT VireoProperties::GetFloat(const char* name, float* v) {
    return GetTyped(name, v, FloatFromText);
}
HRESULT VireoProperties::GetDouble(const char* name, double* v) {
    return GetTyped(name, v, DoubleFromText);
}
HRESULT VireoProperties::GetHandle(const char* name, std::uint32_t* v) {
    return GetTyped<std::uint32_t>(name, v, nullptr);
}
HRESULT VireoProperties::GetObject(const char* name, IVireoUnknown** v) {
    return GetTyped<IVireoUnknown*>(name, v, nullptr);
}
