#include <gtest/gtest.h>

#include "Result.h"

TEST(Result, SuccessAndFailureFollowTheSignBit) {
    EXPECT_TRUE(SUCCEEDED(S_OK));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(SUCCEEDED(VFW_S_CANT_CUE));
    for (HRESULT hr : {E_FAIL, E_ABORT, E_POINTER, E_INVALIDARG, E_OUTOFMEMORY, E_NOINTERFACE,
                       E_UNEXPECTED, VFW_E_NOT_CONNECTED, VFW_E_TYPE_NOT_ACCEPTED}) {
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    }
    EXPECT_EQ(static_cast<std::uint32_t>(E_FAIL), 0x80004005u);
    EXPECT_EQ(static_cast<std::uint32_t>(E_INVALIDARG), 0x80070057u);
}

TEST(Result, TextNamesTheCodeAndCarriesTheFrameworkMessage) {
    ClearMediaErrorText();
    EXPECT_NE(ResultText(E_ABORT).find("0x80004004"), std::string::npos);
    EXPECT_NE(ResultText(static_cast<HRESULT>(0x80991234u)).find("0x80991234"), std::string::npos);
    EXPECT_EQ(ErrorText(E_FAIL), ResultText(E_FAIL));

    SetMediaErrorText("Could not open resource for writing.");
    EXPECT_EQ(ErrorText(E_FAIL), "Could not open resource for writing.");
    // A success code never shows a stale failure message.
    EXPECT_EQ(ErrorText(S_OK), ResultText(S_OK));
    ClearMediaErrorText();
    EXPECT_EQ(ErrorText(E_FAIL), ResultText(E_FAIL));
}
