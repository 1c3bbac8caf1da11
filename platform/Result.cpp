#include "Result.h"

#include <cstdio>

namespace {

thread_local std::string t_mediaErrorText;

const char* KnownText(HRESULT hr) {
    switch (hr) {
        case S_OK: return "The operation completed successfully";
        case S_FALSE: return "The operation completed with no effect";
        case E_NOTIMPL: return "Not implemented";
        case E_NOINTERFACE: return "No such interface supported";
        case E_POINTER: return "Invalid pointer";
        case E_ABORT: return "Operation aborted";
        case E_FAIL: return "Unspecified error";
        case E_UNEXPECTED: return "Catastrophic failure";
        case E_OUTOFMEMORY: return "Not enough memory";
        case E_INVALIDARG: return "One or more arguments are invalid";
        case CLASS_E_NOAGGREGATION: return "Class does not support aggregation";
        case CLASS_E_CLASSNOTAVAILABLE: return "Class not available";
        case VFW_E_NOT_CONNECTED: return "The operation cannot be performed because the pins are not connected";
        case VFW_E_TYPE_NOT_ACCEPTED: return "This pin cannot use the supplied media type";
        case VFW_E_INVALID_FILE_FORMAT: return "The file format is invalid";
        case VFW_E_INVALID_FILE_VERSION: return "The file version is invalid";
        case VFW_S_CANT_CUE: return "The stream cannot be cued, it was paused without data";
        default: return nullptr;
    }
}

}  // namespace

std::string ResultText(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    const char* known = KnownText(hr);
    if (known) return std::string(known) + " (" + code + ")";
    return std::string(FAILED(hr) ? "Error " : "Status ") + code;
}

void SetMediaErrorText(const std::string& text) { t_mediaErrorText = text; }
void ClearMediaErrorText() { t_mediaErrorText.clear(); }
const std::string& MediaErrorText() { return t_mediaErrorText; }

std::string ErrorText(HRESULT hr) {
    if (FAILED(hr) && !t_mediaErrorText.empty()) return t_mediaErrorText;
    return ResultText(hr);
}
