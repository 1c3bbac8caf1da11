#pragma once

#include <cstdint>
#include <string>

// Result codes shared by the engine, the batch driver and the plugins. The values are the
// classic 32-bit HRESULT values so that codes travel unchanged between layers and stay
// recognisable in logs.
using HRESULT = std::int32_t;

constexpr HRESULT MakeResult(std::uint32_t value) { return static_cast<HRESULT>(value); }

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

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// The fixed text for a code, e.g. "Unspecified error (0x80004005)". Never empty.
std::string ResultText(HRESULT hr);

// The media framework's own message for the latest failure on this thread (an error posted on a
// pipeline bus, a libav error text, ...). Code that turns such a failure into a result code
// records the message here so that the error display can show it instead of the bare code.
void SetMediaErrorText(const std::string& text);
void ClearMediaErrorText();
const std::string& MediaErrorText();

// What the user is shown for a failed code: the recorded media framework message when there is
// one, else the code's fixed text.
std::string ErrorText(HRESULT hr);
