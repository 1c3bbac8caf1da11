#include "TarrowRange.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>

namespace tarrow {

namespace {

void PutLe64(std::uint8_t* out, std::int64_t value) {
    auto bits = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::int64_t GetLe64(const std::uint8_t* in) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | in[i];
    return static_cast<std::int64_t>(bits);
}

}  // namespace

std::int64_t Atoi64(const char* text) {
    if (!text) return 0;
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    // Accumulate as a negative number so that the minimum value is representable.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const int digit = *text - '0';
        if (value < (kMin + digit) / 10) {
            value = kMin;
            break;
        }
        value = value * 10 - digit;
    }
    if (negative) return value;
    return value == kMin ? std::numeric_limits<std::int64_t>::max() : -value;
}

void ReadRange(IVireoProperties* store, const char* key, std::int64_t* target) {
    if (!store || !key || !target) return;
    PropValue value;
    if (FAILED(store->GetValue(key, &value))) return;
    if (value.type == PropString)
        *target = Atoi64(value.text);
    else
        *target = GetLe64(value.value.bytes);
    PropValueFree(&value);
}

HRESULT WriteRange(IVireoProperties* store, std::int64_t startPoint, std::int64_t duration) {
    if (!store) return E_POINTER;
    PropValue value;
    value.type = PropLongLong;
    PutLe64(value.value.bytes, startPoint);
    HRESULT hr = store->SetValue(kStartPointKey, &value);
    if (FAILED(hr)) return hr;
    PutLe64(value.value.bytes, duration);
    hr = store->SetValue(kDurationKey, &value);
    if (FAILED(hr)) return hr;
    return store->SetChanged(1);
}

PersistedRange SaveRange(std::int64_t startPoint, std::int64_t duration) {
    PersistedRange out{};
    char version[13];
    std::snprintf(version, sizeof version, "%011d ", kPersistedVersion);
    for (int i = 0; i < 12; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(version[i]);
        out[2 * i + 1] = 0;
    }
    PutLe64(out.data() + 24, startPoint);
    PutLe64(out.data() + 32, duration);
    return out;
}

HRESULT LoadRange(const std::uint8_t* data, std::size_t size, std::int64_t* startPoint,
                  std::int64_t* duration) {
    if (!startPoint || !duration || (!data && size)) return E_POINTER;
    std::size_t pos = 0;
    auto nextUnit = [&](std::uint16_t* unit) {
        if (size - pos < 2) return false;
        *unit = static_cast<std::uint16_t>(data[pos] | (data[pos + 1] << 8));
        pos += 2;
        return true;
    };
    std::uint16_t unit = 0;
    if (!nextUnit(&unit)) return VFW_E_INVALID_FILE_FORMAT;
    bool negative = false;
    if (unit == '-') {
        negative = true;
        if (!nextUnit(&unit)) return VFW_E_INVALID_FILE_FORMAT;
    }
    // The version saturates well above 1: a long run of digits is simply a wrong version.
    std::int64_t version = 0;
    while (unit >= '0' && unit <= '9') {
        if (version < 1000000000) version = version * 10 + (unit - '0');
        if (!nextUnit(&unit)) return VFW_E_INVALID_FILE_FORMAT;
    }
    if (unit != 0 && unit != '\t' && unit != '\n' && unit != '\r' && unit != ' ')
        return VFW_E_INVALID_FILE_FORMAT;
    if (negative) version = -version;
    if (version != kPersistedVersion) return VFW_E_INVALID_FILE_VERSION;
    if (size - pos < 16) return VFW_E_INVALID_FILE_FORMAT;
    *startPoint = GetLe64(data + pos);
    *duration = GetLe64(data + pos + 8);
    return S_OK;
}

}  // namespace tarrow
