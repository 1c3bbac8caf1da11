// The hold element "tarrowhold": GObject type, properties, signals and plugin entry. The
// element's behaviour lives in CTarrowFilter.

#include "TarrowHold.h"

#include <new>

#include "TarrowFilter.h"
#include "TarrowIds.h"

GST_DEBUG_CATEGORY(tarrow_hold_debug);
#define GST_CAT_DEFAULT tarrow_hold_debug

struct _TarrowHold {
    GstElement parent;
    // Constructed in init and destroyed in finalize: GObject runs no C++ constructors.
    std::unique_ptr<CTarrowFilter> filter;
};

G_DEFINE_TYPE_WITH_CODE(TarrowHold, tarrow_hold, GST_TYPE_ELEMENT,
                        GST_DEBUG_CATEGORY_INIT(tarrow_hold_debug, "tarrowhold", 0,
                                                "Tarrow hold element"))

enum { PROP_0, PROP_START_POINT, PROP_DURATION, PROP_PROPERTIES };
enum { SIGNAL_SAVE_RANGE, SIGNAL_LOAD_RANGE, LAST_SIGNAL };

static GstStaticPadTemplate input_template =
    GST_STATIC_PAD_TEMPLATE("Input%d", GST_PAD_SINK, GST_PAD_SOMETIMES, GST_STATIC_CAPS_ANY);
static GstStaticPadTemplate output_template =
    GST_STATIC_PAD_TEMPLATE("Output%d", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS_ANY);

static void tarrow_hold_init(TarrowHold* self) {
    new (&self->filter) std::unique_ptr<CTarrowFilter>(new CTarrowFilter(GST_ELEMENT(self)));
    if (FAILED(self->filter->ConstructResult()))
        GST_ERROR_OBJECT(self, "construction failed (0x%08x)", self->filter->ConstructResult());
}

static void tarrow_hold_finalize(GObject* object) {
    TARROW_HOLD(object)->filter.~unique_ptr();
    G_OBJECT_CLASS(tarrow_hold_parent_class)->finalize(object);
}

static void tarrow_hold_set_property(GObject* object, guint id, const GValue* value,
                                     GParamSpec* pspec) {
    CTarrowFilter* filter = TARROW_HOLD(object)->filter.get();
    switch (id) {
        case PROP_START_POINT:
            filter->SetConfigured(tarrow::kStartPointKey, g_value_get_int64(value));
            break;
        case PROP_DURATION:
            filter->SetConfigured(tarrow::kDurationKey, g_value_get_int64(value));
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

static void tarrow_hold_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    CTarrowFilter* filter = TARROW_HOLD(object)->filter.get();
    switch (id) {
        case PROP_START_POINT:
            g_value_set_int64(value, filter->ConfiguredStartPoint());
            break;
        case PROP_DURATION:
            g_value_set_int64(value, filter->ConfiguredDuration());
            break;
        case PROP_PROPERTIES:
            g_value_set_pointer(value, filter->Properties());
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

static GstStateChangeReturn tarrow_hold_change_state(GstElement* element,
                                                     GstStateChange transition) {
    CTarrowFilter* filter = TARROW_HOLD(element)->filter.get();
    filter->BeforeStateChange(transition);
    const GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(tarrow_hold_parent_class)->change_state(element, transition);
    if (ret == GST_STATE_CHANGE_FAILURE) {
        GST_WARNING_OBJECT(element, "%s failed", gst_state_change_get_name(transition));
        return ret;
    }
    return filter->AfterStateChange(transition, ret);
}

static gboolean tarrow_hold_query(GstElement* element, GstQuery* query) {
    return TARROW_HOLD(element)->filter->ElementQuery(query);
}

static gboolean tarrow_hold_send_event(GstElement* element, GstEvent* event) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK)
        return TARROW_HOLD(element)->filter->ElementSeek(event);
    return GST_ELEMENT_CLASS(tarrow_hold_parent_class)->send_event(element, event);
}

// "save-range": the 40-byte persisted form of the element's range (caller owns the bytes).
static GBytes* tarrow_hold_save_range(TarrowHold* self) {
    const tarrow::PersistedRange bytes = self->filter->Save();
    return g_bytes_new(bytes.data(), bytes.size());
}

// "load-range": loads a persisted form; returns the result code (S_OK,
// VFW_E_INVALID_FILE_FORMAT, VFW_E_INVALID_FILE_VERSION). A failed load changes nothing.
static gint tarrow_hold_load_range(TarrowHold* self, GBytes* bytes) {
    if (!bytes) return E_POINTER;
    gsize size = 0;
    const auto* data = static_cast<const std::uint8_t*>(g_bytes_get_data(bytes, &size));
    return self->filter->Load(data, size);
}

static void tarrow_hold_class_init(TarrowHoldClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);

    object_class->finalize = tarrow_hold_finalize;
    object_class->set_property = tarrow_hold_set_property;
    object_class->get_property = tarrow_hold_get_property;

    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                GST_PARAM_MUTABLE_PLAYING);
    g_object_class_install_property(
        object_class, PROP_START_POINT,
        g_param_spec_int64(kTarrowPropStartPoint, "Start point",
                           "Start of the range the sources are positioned to, in 100-ns units", 0,
                           G_MAXINT64, 0, flags));
    g_object_class_install_property(
        object_class, PROP_DURATION,
        g_param_spec_int64(kTarrowPropDuration, "Duration",
                           "Length of that range in 100-ns units; 0 = up to the end", 0, G_MAXINT64,
                           0, flags));
    g_object_class_install_property(
        object_class, PROP_PROPERTIES,
        g_param_spec_pointer(kTarrowPropProperties, "Properties",
                             "The element's property store (IVireoProperties*), borrowed: "
                             "valid while the element lives",
                             static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    g_signal_new_class_handler("save-range", G_TYPE_FROM_CLASS(klass),
                               static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION),
                               G_CALLBACK(tarrow_hold_save_range), nullptr, nullptr, nullptr,
                               G_TYPE_BYTES, 0);
    g_signal_new_class_handler("load-range", G_TYPE_FROM_CLASS(klass),
                               static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION),
                               G_CALLBACK(tarrow_hold_load_range), nullptr, nullptr, nullptr,
                               G_TYPE_INT, 1, G_TYPE_BYTES);

    gst_element_class_add_static_pad_template(element_class, &input_template);
    gst_element_class_add_static_pad_template(element_class, &output_template);
    gst_element_class_set_static_metadata(
        element_class, kTarrowLongName, "Generic",
        "Passes streams through unchanged in numbered pad pairs, holds them while the "
        "pipeline is paused and positions their sources to a configured range",
        "Brontwell");
    gst_element_class_add_static_metadata(element_class, kTarrowClassIdKey, kTarrowFilterClassId);

    element_class->change_state = tarrow_hold_change_state;
    element_class->query = tarrow_hold_query;
    element_class->send_event = tarrow_hold_send_event;
}

gboolean tarrow_hold_register(GstPlugin* plugin) {
    return gst_element_register(plugin, kTarrowFactoryName, GST_RANK_NONE, TARROW_TYPE_HOLD);
}
