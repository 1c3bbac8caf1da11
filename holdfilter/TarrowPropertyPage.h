#pragma once

#include <cstdint>
#include <string>

#include "VireoProperties.h"

// Resource identifiers of the hold element's property page.
inline constexpr int IDD_TARROW_PAGE = 101;
inline constexpr int IDC_START_POINT = 1000;        // edit: start point in milliseconds
inline constexpr int IDC_START_POINT_LABEL = 1001;  // label: string 1
inline constexpr int IDC_DURATION = 1002;           // edit: duration in milliseconds
inline constexpr int IDC_DURATION_LABEL = 1003;     // label: string 2
inline constexpr int IDS_START_POINT_LABEL = 1;
inline constexpr int IDS_DURATION_LABEL = 2;
inline constexpr int IDS_EMPTY_FIELD = 3;
inline constexpr int IDS_PAGE_TITLE = 5;

// Shown for an empty field when the string table has no string 3.
inline constexpr char kEmptyFieldFallback[] = "Zero length input string";

// The page's string table; null for an identifier it does not hold.
const char* TarrowPageString(int id);

// Status flag handed to the page site when the page's dirty state may have changed.
inline constexpr std::uint32_t PROPPAGESTATUS_DIRTY = 0x1;

// What the page needs from the window that shows it (any toolkit). Texts are 8-bit.
class ITarrowPageView {
public:
    virtual std::string ControlText(int controlId) = 0;
    virtual void SetControlText(int controlId, const std::string& text) = 0;
    // A modal warning owned by the page window, without a caption of its own.
    virtual void ShowWarning(const std::string& text) = 0;

protected:
    ~ITarrowPageView() = default;
};

// The frame that hosts the page (it re-reads IsPageDirty when told).
class ITarrowPageSite {
public:
    virtual void OnStatusChange(std::uint32_t flags) = 0;

protected:
    ~ITarrowPageSite() = default;
};

// The hold element's property page logic: shows and edits "Start point" and "Duration" of a
// store in milliseconds. User-interface thread only. The view and the site are not owned and
// must outlive their use.
class CTarrowPropertyPage {
public:
    CTarrowPropertyPage() = default;
    CTarrowPropertyPage(const CTarrowPropertyPage&) = delete;
    CTarrowPropertyPage& operator=(const CTarrowPropertyPage&) = delete;
    ~CTarrowPropertyPage();

    void SetPageSite(ITarrowPageSite* site) { m_site = site; }

    // Takes a counted reference on object's IVireoProperties; E_NOINTERFACE without one.
    HRESULT OnConnect(IVireoUnknown* object);
    // Drops that reference; E_UNEXPECTED when not connected.
    HRESULT OnDisconnect();
    HRESULT OnActivate() { return S_OK; }
    HRESULT OnDeactivate() { return S_OK; }
    // Sets the labels and shows both values in milliseconds (truncated toward zero).
    void OnInitDialog(ITarrowPageView* view);
    // An edit control's text changed: the page becomes dirty.
    void OnEditChanged(int controlId);
    // Stores both fields (milliseconds -> reference time), raises the change flag and notifies
    // the store's owner. An empty field shows a warning and stores nothing. Always S_OK.
    HRESULT OnApplyChanges();
    bool IsPageDirty() const { return m_dirty; }

    IVireoProperties* Properties() const { return m_properties; }

private:
    ITarrowPageView* m_view = nullptr;
    ITarrowPageSite* m_site = nullptr;
    IVireoProperties* m_properties = nullptr;
    bool m_dirty = false;
};
