#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "VireoProperties.h"

namespace {

// Owns one reference on a fresh store.
struct StorePtr {
    VireoProperties* p = nullptr;
    StorePtr() { EXPECT_EQ(VireoProperties::Create(&p), S_OK); }
    ~StorePtr() {
        if (p) p->Release();
    }
    VireoProperties* operator->() const { return p; }
};

// An object whose references the tests count.
class CountedObject : public IVireoUnknown {
public:
    HRESULT QueryInterface(const VireoGuid& iid, void** out) override {
        if (!(iid == IID_IVireoUnknown)) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    std::uint32_t AddRef() override { return ++refs; }
    std::uint32_t Release() override { return --refs; }
    std::uint32_t refs = 1;
};

class CountingSink : public IVireoPropertiesSink {
public:
    HRESULT OnPropertiesChanged() override {
        ++calls;
        return E_FAIL;  // disregarded by the store
    }
    int calls = 0;
};

std::vector<std::string> Names(IVireoProperties* store, std::uint32_t capacity) {
    std::vector<const char*> raw(capacity);
    std::uint32_t count = capacity;
    EXPECT_EQ(store->GetNames(raw.data(), &count), S_OK);
    return {raw.begin(), raw.begin() + count};
}

}  // namespace

TEST(VireoPropertiesTest, NamesAreOrderedBytewiseAndCaseSensitive) {
    StorePtr store;
    std::uint32_t count = 99;
    EXPECT_EQ(store->GetNames(nullptr, &count), S_OK);
    EXPECT_EQ(count, 0u);

    store->SetLong("Start point", 1);
    store->SetLong("duration", 2);
    store->SetLong("Duration", 3);
    store->SetLong("\xE9t\xE9", 4);  // high bytes sort after ASCII
    store->SetLong("Dur", 5);        // a prefix sorts first
    EXPECT_EQ(store->GetNames(nullptr, &count), S_OK);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(Names(store.p, 10), (std::vector<std::string>{"Dur", "Duration", "Start point",
                                                            "duration", "\xE9t\xE9"}));
    EXPECT_EQ(Names(store.p, 2), (std::vector<std::string>{"Dur", "Duration"}));

    const char* one[1];
    count = 0;
    EXPECT_EQ(store->GetNames(one, &count), E_INVALIDARG);
    EXPECT_EQ(store->GetNames(one, nullptr), E_POINTER);
}

TEST(VireoPropertiesTest, TypedValuesKeepTheirBitsAcrossWidths) {
    StorePtr store;
    std::int32_t l = 0;
    std::int16_t s = 0;
    EXPECT_EQ(store->SetLong("v", 0x12345678), S_OK);
    EXPECT_EQ(store->GetLong("v", &l), S_OK);
    EXPECT_EQ(l, 0x12345678);
    EXPECT_EQ(store->GetShort("v", &s), S_OK);
    EXPECT_EQ(s, 0x5678);

    // No numeric conversion between types: a double read as a long gives its low 4 bytes.
    const double d = 1.5;
    store->SetDouble("d", d);
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    EXPECT_EQ(store->GetLong("d", &l), S_OK);
    EXPECT_EQ(static_cast<std::uint32_t>(l), static_cast<std::uint32_t>(bits));

    // A typed setter zeroes the rest of the value area and leaves auxText empty.
    store->SetUShort("u", 0xFFFF);
    PropValue value;
    EXPECT_EQ(store->GetValue("u", &value), S_OK);
    EXPECT_EQ(value.type, PropUShort);
    for (int i = 2; i < 16; ++i) EXPECT_EQ(value.value.bytes[i], 0) << i;
    EXPECT_STREQ(value.auxText, "");

    float f = 0;
    store->SetFloat("f", 2.25f);
    EXPECT_EQ(store->GetFloat("f", &f), S_OK);
    EXPECT_EQ(f, 2.25f);
    std::uint32_t h = 0;
    store->SetHandle("h", 0xDEADBEEF);
    EXPECT_EQ(store->GetHandle("h", &h), S_OK);
    EXPECT_EQ(h, 0xDEADBEEFu);
}

TEST(VireoPropertiesTest, TextValuesAreConvertedByTheReadingRules) {
    StorePtr store;
    std::int32_t l = 0, b = -1;
    std::uint32_t ul = 0;
    std::uint16_t us = 0;
    double d = 0;
    store->SetString("hex", "0x1F");
    EXPECT_EQ(store->GetLong("hex", &l), S_OK);
    EXPECT_EQ(l, 31);
    store->SetString("oct", "010");
    EXPECT_EQ(store->GetULong("oct", &ul), S_OK);
    EXPECT_EQ(ul, 8u);
    store->SetString("wide", "70000");
    EXPECT_EQ(store->GetUShort("wide", &us), S_OK);
    EXPECT_EQ(us, static_cast<std::uint16_t>(70000));
    store->SetString("real", " 2.5e1xyz");
    EXPECT_EQ(store->GetDouble("real", &d), S_OK);
    EXPECT_EQ(d, 25.0);

    store->SetString("b", "TRUE");
    EXPECT_EQ(store->GetBool("b", &b), S_OK);
    EXPECT_EQ(b, 1);
    store->SetString("b", "fAlSe");
    b = -1;
    EXPECT_EQ(store->GetBool("b", &b), S_OK);
    EXPECT_EQ(b, 0);
    store->SetString("b", "maybe");
    b = -1;
    EXPECT_EQ(store->GetBool("b", &b), S_OK);
    EXPECT_EQ(b, 0);
    store->SetString("b", "7");
    EXPECT_EQ(store->GetBool("b", &b), S_OK);
    EXPECT_EQ(b, 7);

    // A null text is stored as null and reads as an empty text.
    store->SetString("null", nullptr);
    l = 5;
    EXPECT_EQ(store->GetLong("null", &l), S_OK);
    EXPECT_EQ(l, 0);
    PropValue value;
    EXPECT_EQ(store->GetValue("null", &value), S_OK);
    EXPECT_EQ(value.type, PropString);
    EXPECT_EQ(value.text, nullptr);
}

TEST(VireoPropertiesTest, GetValueAndSetValueFollowTheRecordContract) {
    StorePtr store;
    PropValue value;
    EXPECT_EQ(store->GetValue(nullptr, &value), E_POINTER);
    EXPECT_EQ(store->GetValue("x", nullptr), E_POINTER);
    EXPECT_EQ(store->SetValue(nullptr, &value), E_POINTER);
    EXPECT_EQ(store->SetValue("x", nullptr), E_POINTER);

    // A missing name leaves the record untouched.
    value.type = PropLong;
    value.value.longValue = 42;
    EXPECT_EQ(store->GetValue("missing", &value), E_FAIL);
    EXPECT_EQ(value.value.longValue, 42);
    std::int32_t l = 9;
    EXPECT_EQ(store->GetLong("missing", &l), E_FAIL);
    EXPECT_EQ(l, 9);

    // Text and auxText are copies: the caller's buffers may change afterwards.
    char text[] = "hello";
    PropValue in;
    in.type = PropString;
    in.text = text;
    std::strcpy(in.auxText, "aux");
    EXPECT_EQ(store->SetValue("s", &in), S_OK);
    text[0] = 'j';
    in.auxText[0] = 'x';
    // The record's own text (malloc'd, as the contract says) is freed and replaced.
    value.text = strdup("old text");
    EXPECT_EQ(store->GetValue("s", &value), S_OK);
    EXPECT_STREQ(value.text, "hello");
    EXPECT_STREQ(value.auxText, "aux");
    PropValueFree(&value);

    EXPECT_EQ(store->SetValue(std::string(259, 'n').c_str(), &in), S_OK);
    EXPECT_EQ(store->SetValue(std::string(260, 'n').c_str(), &in), E_INVALIDARG);
    EXPECT_EQ(store->ReservedA(1, 2), E_FAIL);
    EXPECT_EQ(store->ReservedB(1, 2), E_FAIL);
}

TEST(VireoPropertiesTest, ObjectEntriesHoldExactlyOneReference) {
    CountedObject a, b;
    {
        StorePtr store;
        EXPECT_EQ(store->SetObject("o", &a), S_OK);
        EXPECT_EQ(a.refs, 2u);
        IVireoUnknown* got = nullptr;
        EXPECT_EQ(store->GetObject("o", &got), S_OK);
        EXPECT_EQ(got, &a);
        PropValue value;
        EXPECT_EQ(store->GetValue("o", &value), S_OK);
        EXPECT_EQ(a.refs, 2u);  // neither getter adds one

        store->SetObject("o", &a);  // replacing with itself keeps it alive and counted once
        EXPECT_EQ(a.refs, 2u);
        store->SetObject("o", &b);
        EXPECT_EQ(a.refs, 1u);
        EXPECT_EQ(b.refs, 2u);
        EXPECT_EQ(store->Remove("o"), S_OK);
        EXPECT_EQ(b.refs, 1u);
        EXPECT_EQ(store->Remove("o"), S_OK);  // absent: still S_OK

        store->SetObject("x", &a);
        store->SetObject("y", &b);
        store->Clear();
        EXPECT_EQ(a.refs, 1u);
        EXPECT_EQ(b.refs, 1u);
        store->SetObject("z", &a);
        store->SetObject("null", nullptr);
    }
    EXPECT_EQ(a.refs, 1u);  // released when the store went
}

TEST(VireoPropertiesTest, ChangeFlagAndSink) {
    StorePtr store;
    EXPECT_EQ(store->IsChanged(), S_OK);
    EXPECT_EQ(store->NotifyChanged(), S_OK);  // no sink: nothing happens

    store->SetLong("a", 1);
    EXPECT_EQ(store->IsChanged(), S_FALSE);
    store->SetChanged(0);
    store->Remove("a");
    store->SetLong("b", 1);
    store->SetChanged(0);
    store->Clear();
    EXPECT_EQ(store->IsChanged(), S_OK);  // Remove and Clear leave it

    CountingSink sink;
    store->SetSink(&sink);
    EXPECT_EQ(store->NotifyChanged(), S_OK);  // the sink's failure is disregarded
    EXPECT_EQ(sink.calls, 1);
    EXPECT_EQ(store->IsChanged(), S_OK);  // notifying does not touch the flag
}

TEST(VireoPropertiesTest, MergeCopiesEntriesInOrderAndKeepsOthers) {
    StorePtr a, b;
    EXPECT_EQ(a->Merge(nullptr), E_POINTER);
    EXPECT_EQ(a->Merge(b.p), S_OK);  // empty: nothing, not even the flag
    EXPECT_EQ(a->IsChanged(), S_OK);

    CountedObject object;
    a->SetLong("kept", 1);
    a->SetLong("shared", 2);
    b->SetLong("shared", 3);
    b->SetString("text", "t");
    b->SetObject("object", &object);
    EXPECT_EQ(a->Merge(b.p), S_OK);
    std::int32_t l = 0;
    a->GetLong("kept", &l);
    EXPECT_EQ(l, 1);
    a->GetLong("shared", &l);
    EXPECT_EQ(l, 3);
    EXPECT_EQ(Names(a.p, 10), (std::vector<std::string>{"kept", "object", "shared", "text"}));
    EXPECT_EQ(object.refs, 3u);  // one for each store

    // Merging a store into itself keeps every entry (its name pointers die on each set).
    EXPECT_EQ(a->Merge(a.p), S_OK);
    PropValue value;
    EXPECT_EQ(a->GetValue("text", &value), S_OK);
    EXPECT_STREQ(value.text, "t");
    PropValueFree(&value);
    EXPECT_EQ(object.refs, 3u);
}

TEST(VireoPropertiesTest, QueryInterfaceGivesTheStoreItself) {
    StorePtr store;
    void* out = nullptr;
    EXPECT_EQ(store->QueryInterface(IID_IVireoProperties, &out), S_OK);
    EXPECT_EQ(out, static_cast<IVireoProperties*>(store.p));
    static_cast<IVireoProperties*>(out)->Release();
    const VireoGuid other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(store->QueryInterface(other, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}
