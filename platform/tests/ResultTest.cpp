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

TEST(Result, TextsGiveTheReasonThenTheCode) {
    EXPECT_EQ(ResultText(E_ABORT), "Operation aborted (0x80004004)");
    EXPECT_EQ(ResultText(static_cast<HRESULT>(0x80991234u)), "Error 0x80991234");
    // A code built from a system error number reads as the system's text for it.
    EXPECT_EQ(ResultText(static_cast<HRESULT>(0x80070002u)),
              "No such file or directory (0x80070002)");
    EXPECT_EQ(ResultText(static_cast<HRESULT>(0x8007001Eu)), "Read-only file system (0x8007001E)");

    const ClipResult framework{E_FAIL, "Could not open resource for writing."};
    EXPECT_EQ(framework.Reason(), "Could not open resource for writing.");
    EXPECT_EQ(framework.Text(), "Could not open resource for writing. (0x80004005)");
    const ClipResult bare{static_cast<HRESULT>(0x8007000Du), {}};
    EXPECT_EQ(bare.Reason(), "Permission denied (0x8007000D)");
    EXPECT_EQ(bare.Text(), bare.Reason());
    EXPECT_TRUE(ClipResult::Ok().Succeeded());
}
