#include "SettingsTables.h"

namespace settingstables {

bool IsDiscType(int typePosition) {
    return typePosition == Vcd || typePosition == Dvd || typePosition == Svcd;
}

std::optional<FrameSizePositions> DiscFrameSize(int typePosition, bool ntsc) {
    switch (typePosition) {
        case Vcd:
            return ntsc ? FrameSizePositions{2, 1} : FrameSizePositions{2, 2};  // 352x240/288
        case Dvd:
            return ntsc ? FrameSizePositions{7, 3} : FrameSizePositions{7, 4};  // 720x480/576
        case Svcd:
            return ntsc ? FrameSizePositions{5, 3} : FrameSizePositions{5, 4};  // 480x480/576
        default:
            return std::nullopt;
    }
}

int MpegPresetCode(int typePosition, int standardPosition) {
    const bool pal = standardPosition == Pal;
    switch (typePosition) {
        case Mpeg2:
            return 2;
        case Mpeg1:
            return 0;
        case Vcd:
            return pal ? 1 : 5;
        case Dvd:
            return pal ? 4 : 7;
        case Svcd:
            return pal ? 3 : 6;
        default:
            return -1;
    }
}

}  // namespace settingstables

ElementRef CreateMpegEncoder() {
    return AdoptElement(gst_element_factory_make("kestrinempegwriter", nullptr));
}

HRESULT ConfigureMpegEncoder(const ElementRef& mpegEncoder, int presetCode) {
    if (!mpegEncoder) return E_FAIL;
    GParamSpec* spec =
        g_object_class_find_property(G_OBJECT_GET_CLASS(mpegEncoder.get()), "preset");
    if (!spec || !(spec->flags & G_PARAM_WRITABLE)) return E_NOINTERFACE;
    GValue value = G_VALUE_INIT;
    g_value_init(&value, spec->value_type);
    bool converted = true;
    if (G_TYPE_IS_ENUM(spec->value_type)) {
        g_value_set_enum(&value, presetCode);
    } else if (spec->value_type == G_TYPE_INT) {
        g_value_set_int(&value, presetCode);
    } else if (spec->value_type == G_TYPE_UINT && presetCode >= 0) {
        g_value_set_uint(&value, static_cast<guint>(presetCode));
    } else {
        converted = false;
    }
    // g_param_value_validate() returns true when it had to change the value: a code out of range.
    converted = converted && !g_param_value_validate(spec, &value);
    if (converted) g_object_set_property(G_OBJECT(mpegEncoder.get()), "preset", &value);
    g_value_unset(&value);
    return converted ? S_OK : E_INVALIDARG;
}
