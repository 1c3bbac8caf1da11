#pragma once

#include <cstdint>

class INotifyTarget;

// A rectangle in pixels (left, top, right, bottom).
struct PreviewRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
};

// The pane that shows a media graph's preview video (the main window's preview control). The
// window layer implements it; the engine never sees a widget.
class IPreviewPane {
public:
    virtual ~IPreviewPane() = default;

    // The window that receives the graph's notifications: the pane's parent window, or null.
    // User-interface thread.
    virtual INotifyTarget* NotifyParent() const = 0;

    // The pane's rectangle in the client coordinates of NotifyParent()'s window; false when it
    // cannot be read. User-interface thread.
    virtual bool PaneRect(PreviewRect& rect) const = 0;

    // The latest frame, packed 24-bit RGB rows of stride bytes. Called on a streaming thread:
    // the pane copies the pixels before it returns and repaints on the user-interface thread.
    virtual void PresentFrame(const std::uint8_t* rgb, int width, int height, int stride) = 0;

    // The preview closed: the pane forgets its frame. User-interface thread.
    virtual void ClearFrame() = 0;
};
