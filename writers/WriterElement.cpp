#include "WriterElement.h"

namespace writer {

void InstallLocationProperty(GObjectClass* klass, guint id, const char* blurb) {
    g_object_class_install_property(
        klass, id,
        g_param_spec_string(
            "location", "File Location", blurb, nullptr,
            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));
}

void InstallInPlaceProperty(GObjectClass* klass, guint id) {
    g_object_class_install_property(
        klass, id,
        g_param_spec_boolean(
            "in-place", "Write in place",
            "The location is a temporary file made by the caller, who moves it into place", FALSE,
            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));
}

void SetLocation(GstElement* element, gchar** location, const GValue* value) {
    if (GST_STATE(element) > GST_STATE_READY) {
        GstElementFactory* factory = gst_element_get_factory(element);
        g_warning("%s: location cannot change while writing",
                  factory ? GST_OBJECT_NAME(factory) : GST_OBJECT_NAME(element));
        return;
    }
    g_free(*location);
    *location = g_value_dup_string(value);
}

bool OpenTempOutput(GstElement* element, const std::string& location, bool inPlace,
                    CTempOutput* temp,
                    const std::function<bool(const std::string& path, std::string* error)>& open) {
    if (location.empty()) {
        GST_ELEMENT_ERROR(element, RESOURCE, NOT_FOUND, ("No file name specified for writing."),
                          (nullptr));
        return false;
    }
    std::string error;
    const bool made = inPlace ? temp->Adopt(location, &error) : temp->Create(location, &error);
    if (made && open(temp->TempPath(), &error)) return true;
    GST_ELEMENT_ERROR(
        element, RESOURCE, OPEN_WRITE,
        ("Could not open file \"%s\" for writing: %s", location.c_str(), error.c_str()), (nullptr));
    temp->Discard();
    return false;
}

std::string WriteErrorText(const std::string& location, const std::string& error) {
    return "Could not write \"" + location + "\": " + error;
}

gboolean AnswerPositionQuery(GstQuery* query, const std::function<GstClockTime()>& position) {
    GstFormat format;
    gst_query_parse_position(query, &format, nullptr);
    if (format != GST_FORMAT_TIME) return FALSE;
    gst_query_set_position(query, GST_FORMAT_TIME, static_cast<gint64>(position()));
    return TRUE;
}

}  // namespace writer
