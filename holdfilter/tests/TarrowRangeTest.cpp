#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "TarrowRange.h"

using namespace tarrow;

TEST(TarrowRangeTest, Atoi64ReadsLeadingDecimalNumbers) {
    EXPECT_EQ(Atoi64("  -42xyz"), -42);
    EXPECT_EQ(Atoi64("+7"), 7);
    EXPECT_EQ(Atoi64("abc"), 0);
    EXPECT_EQ(Atoi64("0x10"), 0);
    EXPECT_EQ(Atoi64(""), 0);
    EXPECT_EQ(Atoi64(nullptr), 0);
    EXPECT_EQ(Atoi64("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(Atoi64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(Atoi64("99999999999999999999"), std::numeric_limits<std::int64_t>::max());
}

TEST(TarrowRangeTest, ReadRangeByValueType) {
    VireoProperties* store = nullptr;
    ASSERT_EQ(VireoProperties::Create(&store), S_OK);
    std::int64_t target = 123;
    ReadRange(store, kStartPointKey, &target);
    EXPECT_EQ(target, 123);  // absent: unchanged

    store->SetString(kStartPointKey, "20000000");  // two seconds as text
    ReadRange(store, kStartPointKey, &target);
    EXPECT_EQ(target, 20000000);
    store->SetString(kStartPointKey, "letters");
    ReadRange(store, kStartPointKey, &target);
    EXPECT_EQ(target, 0);

    ASSERT_EQ(WriteRange(store, 5, -6), S_OK);
    EXPECT_EQ(store->IsChanged(), S_FALSE);
    std::int64_t start = 0, duration = 0;
    ReadRange(store, kStartPointKey, &start);
    ReadRange(store, kDurationKey, &duration);
    EXPECT_EQ(start, 5);
    EXPECT_EQ(duration, -6);
    PropValue value;
    ASSERT_EQ(store->GetValue(kDurationKey, &value), S_OK);
    EXPECT_EQ(value.type, PropLongLong);
    store->Release();
}

TEST(TarrowRangeTest, PersistedFormRoundTrip) {
    const PersistedRange bytes = SaveRange(10000000, 20000000);
    const char version[] = "00000000001 ";
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(bytes[2 * i], static_cast<std::uint8_t>(version[i])) << i;
        EXPECT_EQ(bytes[2 * i + 1], 0) << i;
    }
    // 10000000 = 0x989680, little-endian.
    EXPECT_EQ(bytes[24], 0x80);
    EXPECT_EQ(bytes[25], 0x96);
    EXPECT_EQ(bytes[26], 0x98);
    EXPECT_EQ(bytes[27], 0x00);

    std::int64_t start = 0, duration = 0;
    ASSERT_EQ(LoadRange(bytes.data(), bytes.size(), &start, &duration), S_OK);
    EXPECT_EQ(start, 10000000);
    EXPECT_EQ(duration, 20000000);

    const PersistedRange negative = SaveRange(-1, std::numeric_limits<std::int64_t>::max());
    ASSERT_EQ(LoadRange(negative.data(), negative.size(), &start, &duration), S_OK);
    EXPECT_EQ(start, -1);
    EXPECT_EQ(duration, std::numeric_limits<std::int64_t>::max());
}

TEST(TarrowRangeTest, BadPersistedFormsAreRejectedAndChangeNothing) {
    const PersistedRange good = SaveRange(1, 2);
    std::int64_t start = 77, duration = 88;
    auto load = [&](const std::uint8_t* data, std::size_t size) {
        return LoadRange(data, size, &start, &duration);
    };
    for (std::size_t size = 0; size < kPersistedSize; ++size)
        EXPECT_EQ(load(good.data(), size), VFW_E_INVALID_FILE_FORMAT) << size;

    PersistedRange bad = good;
    bad[20] = '2';  // "00000000002 "
    EXPECT_EQ(load(bad.data(), bad.size()), VFW_E_INVALID_FILE_VERSION);
    bad = good;
    bad[0] = '-';  // "-0000000001 "
    EXPECT_EQ(load(bad.data(), bad.size()), VFW_E_INVALID_FILE_VERSION);
    bad = good;
    bad[22] = 'x';  // "00000000001x"
    EXPECT_EQ(load(bad.data(), bad.size()), VFW_E_INVALID_FILE_FORMAT);
    bad = good;
    bad[23] = 1;  // a code unit beyond ASCII that is not a terminator
    EXPECT_EQ(load(bad.data(), bad.size()), VFW_E_INVALID_FILE_FORMAT);
    // A huge digit run is a wrong version, not an overflow.
    std::vector<std::uint8_t> digits(200, 0);
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) digits[i] = '9';
    EXPECT_EQ(load(digits.data(), digits.size()), VFW_E_INVALID_FILE_FORMAT);
    digits[180] = ' ';
    EXPECT_EQ(load(digits.data(), digits.size()), VFW_E_INVALID_FILE_VERSION);

    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        PersistedRange noise;
        for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
        if (noise[0] == '1' && noise[1] == 0) noise[0] = 'x';  // keep it invalid
        const HRESULT hr = load(noise.data(), noise.size());
        EXPECT_TRUE(hr == VFW_E_INVALID_FILE_FORMAT || hr == VFW_E_INVALID_FILE_VERSION)
            << std::hex << hr;
    }
    EXPECT_EQ(start, 77);
    EXPECT_EQ(duration, 88);

    // A short version text is accepted: the values follow its terminator.
    const std::uint8_t shortForm[] = {'1', 0, ' ', 0, 5, 0, 0, 0, 0, 0,
                                      0,   0, 6,   0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(load(shortForm, sizeof shortForm), S_OK);
    EXPECT_EQ(start, 5);
    EXPECT_EQ(duration, 6);
}
