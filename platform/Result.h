#pragma once

#include <cstdint>
#include <string>

// Result codes shared by the engine, the batch driver and the plugins. The values are the
// classic 32-bit HRESULT values so that codes travel unchanged between layers and stay
// recognisable in logs.
using HRESULT = std::int32_t;

constexpr HRESULT MakeResult(std::uint32_t value) {
    return static_cast<HRESULT>(value);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeResult(0x80004003u);
constexpr HRESULT E_ABORT = MakeResult(0x80004004u);
constexpr HRESULT E_FAIL = MakeResult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeResult(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeResult(0x80040111u);
constexpr HRESULT VFW_E_NOT_CONNECTED = MakeResult(0x80040209u);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeResult(0x8004022Au);
constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = MakeResult(0x8004022Fu);
constexpr HRESULT VFW_E_INVALID_FILE_VERSION = MakeResult(0x80040244u);
constexpr HRESULT VFW_S_CANT_CUE = MakeResult(0x00040268u);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

// The fixed text for a code, e.g. "Unspecified error (0x80004005)". A 0x8007xxxx code that is
// not in the table carries a system error number in its low 16 bits (ResultFromErrno); its text
// is the system's text for that number, e.g. "No such file or directory (0x80070002)". Never
// empty.
std::string ResultText(HRESULT hr);

// The outcome of one operation that the user may have to be told about (a clip's conversion, a
// clip's acceptance, the output folder's preparation): the code and, for a failure, why. The
// reason is the media framework's own message or the program's sentence; empty when only the
// code is known. Passed by value; nothing else carries the reason.
struct ClipResult {
    HRESULT code = S_OK;
    std::string reason;

    static ClipResult Ok() { return {}; }
    bool Succeeded() const { return SUCCEEDED(code); }
    bool Failed() const { return FAILED(code); }
    // The reason, or the code's text when there is none.
    std::string Reason() const;
    // For a message box: the reason followed by the code, e.g. "No such file or directory
    // (0x80070002)"; the code's text alone when there is no reason.
    std::string Text() const;
};
