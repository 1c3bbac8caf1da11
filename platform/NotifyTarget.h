#pragma once

#include <cstdint>

// Receiver of a media object's notifications (the probe's and the engine's numbered events).
// Called synchronously on the user-interface thread: k is the notification number, wParam and
// lParam its values (e.g. k = 7 carries the progress 0..10000 in lParam).
class INotifyTarget {
public:
    virtual ~INotifyTarget() = default;
    virtual void OnMediaNotify(int messageBase, int k, std::intptr_t wParam,
                               std::intptr_t lParam) = 0;
};
