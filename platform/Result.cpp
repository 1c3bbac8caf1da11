#include "Result.h"

#include <cstdio>
#include <cstring>

namespace {

const char* KnownText(HRESULT hr) {
    switch (hr) {
        case S_OK:
            return "The operation completed successfully";
        case S_FALSE:
            return "The operation completed with no effect";
        case E_NOTIMPL:
            return "Not implemented";
        case E_NOINTERFACE:
            return "No such interface supported";
        case E_POINTER:
            return "Invalid pointer";
        case E_ABORT:
            return "Operation aborted";
        case E_FAIL:
            return "Unspecified error";
        case E_UNEXPECTED:
            return "Catastrophic failure";
        case E_OUTOFMEMORY:
            return "Not enough memory";
        case E_INVALIDARG:
            return "One or more arguments are invalid";
        case CLASS_E_NOAGGREGATION:
            return "Class does not support aggregation";
        case CLASS_E_CLASSNOTAVAILABLE:
            return "Class not available";
        case VFW_E_NOT_CONNECTED:
            return "The operation cannot be performed because the pins are not connected";
        case VFW_E_TYPE_NOT_ACCEPTED:
            return "This pin cannot use the supplied media type";
        case VFW_E_INVALID_FILE_FORMAT:
            return "The file format is invalid";
        case VFW_E_INVALID_FILE_VERSION:
            return "The file version is invalid";
        case VFW_S_CANT_CUE:
            return "The stream cannot be cued, it was paused without data";
        default:
            return nullptr;
    }
}

std::string CodeText(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return code;
}

}  // namespace

std::string ResultText(HRESULT hr) {
    const std::string code = CodeText(hr);
    if (const char* known = KnownText(hr)) return std::string(known) + " (" + code + ")";
    const auto value = static_cast<std::uint32_t>(hr);
    if ((value & 0xFFFF0000u) == 0x80070000u && (value & 0xFFFFu) != 0)
        return std::string(std::strerror(static_cast<int>(value & 0xFFFFu))) + " (" + code + ")";
    return std::string(FAILED(hr) ? "Error " : "Status ") + code;
}

std::string ClipResult::Reason() const {
    return reason.empty() ? ResultText(code) : reason;
}

std::string ClipResult::Text() const {
    return reason.empty() ? ResultText(code) : reason + " (" + CodeText(code) + ")";
}
