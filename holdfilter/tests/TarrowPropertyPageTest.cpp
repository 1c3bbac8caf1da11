#include <gtest/gtest.h>

#include <map>

#include "TarrowPropertyPage.h"
#include "TarrowRange.h"

namespace {

class FakeView : public ITarrowPageView, public ITarrowPageSite {
public:
    std::string ControlText(int id) override { return texts[id]; }
    void SetControlText(int id, const std::string& text) override { texts[id] = text; }
    void ShowWarning(const std::string& text) override { warnings.push_back(text); }
    void OnStatusChange(std::uint32_t flags) override { statusChanges += flags; }
    std::map<int, std::string> texts;
    std::vector<std::string> warnings;
    int statusChanges = 0;
};

class CountingSink : public IVireoPropertiesSink {
public:
    HRESULT OnPropertiesChanged() override {
        ++calls;
        return S_OK;
    }
    int calls = 0;
};

class NotAStore : public IVireoUnknown {
public:
    HRESULT QueryInterface(const VireoGuid&, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }
};

struct PageFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(VireoProperties::Create(&store), S_OK);
        store->SetSink(&sink);
        page.SetPageSite(&view);
    }
    void TearDown() override { store->Release(); }
    VireoProperties* store = nullptr;
    CountingSink sink;
    FakeView view;
    CTarrowPropertyPage page;
};

}  // namespace

TEST_F(PageFixture, ShowsMillisecondsAndAppliesReferenceTime) {
    store->SetString(tarrow::kStartPointKey, "15000000");  // 1.5 s as text
    PropValue duration;
    duration.type = PropLongLong;
    duration.value.longlongValue = -19999;  // truncated toward zero
    store->SetValue(tarrow::kDurationKey, &duration);
    store->SetChanged(0);

    ASSERT_EQ(page.OnConnect(store), S_OK);
    page.OnInitDialog(&view);
    EXPECT_EQ(view.texts[IDC_START_POINT], "1500");
    EXPECT_EQ(view.texts[IDC_DURATION], "-1");
    EXPECT_FALSE(view.texts[IDC_START_POINT_LABEL].empty());
    EXPECT_FALSE(page.IsPageDirty());

    view.texts[IDC_START_POINT] = "2500";
    page.OnEditChanged(IDC_START_POINT);
    EXPECT_TRUE(page.IsPageDirty());
    EXPECT_EQ(page.OnApplyChanges(), S_OK);
    EXPECT_FALSE(page.IsPageDirty());
    EXPECT_EQ(sink.calls, 1);
    EXPECT_EQ(store->IsChanged(), S_FALSE);
    PropValue value;
    ASSERT_EQ(store->GetValue(tarrow::kStartPointKey, &value), S_OK);
    EXPECT_EQ(value.type, PropLongLong);
    EXPECT_EQ(value.value.longlongValue, 25000000);
    ASSERT_EQ(store->GetValue(tarrow::kDurationKey, &value), S_OK);
    EXPECT_EQ(value.value.longlongValue, -10000);
    EXPECT_EQ(page.OnDisconnect(), S_OK);
}

TEST_F(PageFixture, EmptyFieldWarnsAndStoresNothing) {
    ASSERT_EQ(page.OnConnect(store), S_OK);
    page.OnInitDialog(&view);
    view.texts[IDC_DURATION] = "";
    page.OnEditChanged(IDC_DURATION);
    EXPECT_EQ(page.OnApplyChanges(), S_OK);
    ASSERT_EQ(view.warnings.size(), 1u);
    EXPECT_EQ(view.warnings[0], TarrowPageString(IDS_EMPTY_FIELD));
    EXPECT_TRUE(page.IsPageDirty());
    std::uint32_t count = 0;
    store->GetNames(nullptr, &count);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(sink.calls, 0);
}

TEST_F(PageFixture, ConnectionRules) {
    NotAStore other;
    EXPECT_EQ(page.OnConnect(&other), E_NOINTERFACE);
    EXPECT_EQ(page.OnConnect(nullptr), E_NOINTERFACE);
    EXPECT_EQ(page.OnDisconnect(), E_UNEXPECTED);
    ASSERT_EQ(page.OnConnect(store), S_OK);
    EXPECT_EQ(page.OnDisconnect(), S_OK);
    EXPECT_EQ(page.OnDisconnect(), E_UNEXPECTED);
}
