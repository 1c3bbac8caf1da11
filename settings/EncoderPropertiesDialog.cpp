#include "EncoderPropertiesDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>
#include <climits>
#include <cstring>

#include "GstPtr.h"

namespace {

// Properties that the framework's base classes give every element or encoder (its name and
// parent in the pipeline, quality-of-service handling, key-unit request pacing, timestamp
// tolerances) are about running in a pipeline, not about the encoding.
bool FrameworkProperty(const GParamSpec* spec) {
    for (const char* base : {"GstObject", "GstElement", "GstBin", "GstVideoEncoder",
                             "GstAudioEncoder", "GstBaseTransform", "GstAggregator"}) {
        const GType type = g_type_from_name(base);
        if (type && spec->owner_type == type) return true;
    }
    return false;
}

bool Offered(const GParamSpec* spec) {
    if (!(spec->flags & G_PARAM_WRITABLE) || !(spec->flags & G_PARAM_READABLE)) return false;
    if (spec->flags & (G_PARAM_CONSTRUCT_ONLY | G_PARAM_DEPRECATED)) return false;
    if (FrameworkProperty(spec)) return false;
    // libav's encoders declare their own copies of the generic ones.
    return std::strcmp(spec->name, "name") != 0 && std::strcmp(spec->name, "parent") != 0 &&
           std::strcmp(spec->name, "qos") != 0;
}

// The whole range of a wider integer property, for a spin box of whole numbers held as a
// double (exact up to 2^53, which covers every practical setting).
bool WideRange(const GParamSpec* spec, double& min, double& max) {
    const GType type = G_PARAM_SPEC_VALUE_TYPE(spec);
    if (type == G_TYPE_UINT) {
        min = G_PARAM_SPEC_UINT(spec)->minimum;
        max = G_PARAM_SPEC_UINT(spec)->maximum;
    } else if (type == G_TYPE_LONG) {
        min = double(G_PARAM_SPEC_LONG(spec)->minimum);
        max = double(G_PARAM_SPEC_LONG(spec)->maximum);
    } else if (type == G_TYPE_ULONG) {
        min = double(G_PARAM_SPEC_ULONG(spec)->minimum);
        max = double(G_PARAM_SPEC_ULONG(spec)->maximum);
    } else if (type == G_TYPE_INT64) {
        min = double(G_PARAM_SPEC_INT64(spec)->minimum);
        max = double(G_PARAM_SPEC_INT64(spec)->maximum);
    } else if (type == G_TYPE_UINT64) {
        min = double(G_PARAM_SPEC_UINT64(spec)->minimum);
        max = double(G_PARAM_SPEC_UINT64(spec)->maximum);
    } else {
        return false;
    }
    return true;
}

// Integer-like properties whose whole range a spin box can show.
bool IntRange(const GParamSpec* spec, long long& min, long long& max) {
    const GType type = G_PARAM_SPEC_VALUE_TYPE(spec);
    if (type == G_TYPE_INT) {
        min = G_PARAM_SPEC_INT(spec)->minimum;
        max = G_PARAM_SPEC_INT(spec)->maximum;
    } else if (type == G_TYPE_UINT) {
        min = G_PARAM_SPEC_UINT(spec)->minimum;
        max = G_PARAM_SPEC_UINT(spec)->maximum;
    } else if (type == G_TYPE_LONG) {
        min = G_PARAM_SPEC_LONG(spec)->minimum;
        max = G_PARAM_SPEC_LONG(spec)->maximum;
    } else if (type == G_TYPE_ULONG) {
        min = 0;
        max =
            static_cast<long long>(std::min<gulong>(G_PARAM_SPEC_ULONG(spec)->maximum, LLONG_MAX));
    } else if (type == G_TYPE_INT64) {
        min = G_PARAM_SPEC_INT64(spec)->minimum;
        max = G_PARAM_SPEC_INT64(spec)->maximum;
    } else if (type == G_TYPE_UINT64) {
        min = 0;
        max = static_cast<long long>(
            std::min<guint64>(G_PARAM_SPEC_UINT64(spec)->maximum, LLONG_MAX));
    } else {
        return false;
    }
    return min >= INT_MIN && max <= INT_MAX;
}

}  // namespace

CEncoderPropertiesDialog::CEncoderPropertiesDialog(ElementRef encoder, QWidget* parent)
    : QDialog(parent), m_encoder(std::move(encoder)) {
    auto* form = new QFormLayout;
    GstElement* element = m_encoder.get();
    if (element) {
        GstElementFactory* factory = gst_element_get_factory(element);
        setWindowTitle(QString::fromUtf8(
            factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME)
                    : GST_OBJECT_NAME(element)));
        guint count = 0;
        GParamSpec** specs = g_object_class_list_properties(G_OBJECT_GET_CLASS(element), &count);
        for (guint i = 0; i < count; ++i) {
            GParamSpec* spec = specs[i];
            if (!Offered(spec)) continue;
            GValue current = G_VALUE_INIT;
            g_value_init(&current, spec->value_type);
            g_object_get_property(G_OBJECT(element), spec->name, &current);
            const GType type = spec->value_type;
            QWidget* editor = nullptr;
            std::function<bool(GValue*)> read;
            long long min = 0, max = 0;
            if (type == G_TYPE_BOOLEAN) {
                auto* box = new QCheckBox;
                box->setChecked(g_value_get_boolean(&current));
                read = [box](GValue* v) {
                    g_value_set_boolean(v, box->isChecked());
                    return true;
                };
                editor = box;
            } else if (IntRange(spec, min, max)) {
                auto* box = new QSpinBox;
                box->setRange(static_cast<int>(min), static_cast<int>(max));
                GValue asInt = G_VALUE_INIT;
                g_value_init(&asInt, G_TYPE_INT64);
                g_value_transform(&current, &asInt);
                box->setValue(static_cast<int>(g_value_get_int64(&asInt)));
                g_value_unset(&asInt);
                read = [box](GValue* v) {
                    GValue in = G_VALUE_INIT;
                    g_value_init(&in, G_TYPE_INT64);
                    g_value_set_int64(&in, box->value());
                    const bool ok = g_value_transform(&in, v);
                    g_value_unset(&in);
                    return ok;
                };
                editor = box;
            } else if (type == G_TYPE_DOUBLE || type == G_TYPE_FLOAT) {
                auto* box = new QDoubleSpinBox;
                const bool isDouble = type == G_TYPE_DOUBLE;
                box->setRange(isDouble ? G_PARAM_SPEC_DOUBLE(spec)->minimum
                                       : G_PARAM_SPEC_FLOAT(spec)->minimum,
                              isDouble ? G_PARAM_SPEC_DOUBLE(spec)->maximum
                                       : G_PARAM_SPEC_FLOAT(spec)->maximum);
                box->setDecimals(3);
                box->setValue(isDouble ? g_value_get_double(&current)
                                       : g_value_get_float(&current));
                read = [box, isDouble](GValue* v) {
                    if (isDouble)
                        g_value_set_double(v, box->value());
                    else
                        g_value_set_float(v, static_cast<float>(box->value()));
                    return true;
                };
                editor = box;
            } else if (G_TYPE_IS_ENUM(type)) {
                auto* box = new QComboBox;
                GEnumClass* values = G_PARAM_SPEC_ENUM(spec)->enum_class;
                for (guint n = 0; n < values->n_values; ++n) {
                    box->addItem(QString::fromUtf8(values->values[n].value_nick),
                                 values->values[n].value);
                    box->setItemData(n, QString::fromUtf8(values->values[n].value_name),
                                     Qt::ToolTipRole);
                }
                box->setCurrentIndex(box->findData(g_value_get_enum(&current)));
                read = [box](GValue* v) {
                    if (box->currentIndex() < 0) return false;
                    g_value_set_enum(v, box->currentData().toInt());
                    return true;
                };
                editor = box;
            } else if (G_TYPE_IS_FLAGS(type)) {
                // One check box per flag, named by its nick.
                auto* box = new QWidget;
                auto* column = new QVBoxLayout(box);
                column->setContentsMargins(0, 0, 0, 0);
                GFlagsClass* values = G_PARAM_SPEC_FLAGS(spec)->flags_class;
                const guint set = g_value_get_flags(&current);
                std::vector<std::pair<QCheckBox*, guint>> flags;
                for (guint n = 0; n < values->n_values; ++n) {
                    const GFlagsValue& flag = values->values[n];
                    if (flag.value == 0) continue;  // "none" is every box left clear
                    auto* check = new QCheckBox(QString::fromUtf8(flag.value_nick));
                    check->setObjectName(QString::fromUtf8(flag.value_nick));
                    check->setToolTip(QString::fromUtf8(flag.value_name));
                    check->setChecked((set & flag.value) == flag.value);
                    column->addWidget(check);
                    flags.emplace_back(check, flag.value);
                }
                read = [flags](GValue* v) {
                    guint value = 0;
                    for (const auto& [check, bit] : flags)
                        if (check->isChecked()) value |= bit;
                    g_value_set_flags(v, value);
                    return true;
                };
                editor = box;
            } else if (double low = 0, high = 0; WideRange(spec, low, high)) {
                auto* box = new QDoubleSpinBox;
                box->setDecimals(0);
                box->setRange(low, high);
                GValue asDouble = G_VALUE_INIT;
                g_value_init(&asDouble, G_TYPE_DOUBLE);
                g_value_transform(&current, &asDouble);
                box->setValue(g_value_get_double(&asDouble));
                g_value_unset(&asDouble);
                read = [box, type](GValue* v) {
                    const double value = box->value();
                    if (type == G_TYPE_UINT)
                        g_value_set_uint(v, guint(value));
                    else if (type == G_TYPE_LONG)
                        g_value_set_long(v, glong(value));
                    else if (type == G_TYPE_ULONG)
                        g_value_set_ulong(v, gulong(value));
                    else if (type == G_TYPE_INT64)
                        g_value_set_int64(v, gint64(value));
                    else
                        g_value_set_uint64(v, guint64(value));
                    return true;
                };
                editor = box;
            } else if (type == G_TYPE_STRING) {
                auto* line = new QLineEdit;
                line->setText(QString::fromUtf8(
                    g_value_get_string(&current) ? g_value_get_string(&current) : ""));
                read = [line](GValue* v) {
                    g_value_set_string(v, line->text().toUtf8().constData());
                    return true;
                };
                editor = line;
            }
            g_value_unset(&current);
            if (!editor) continue;  // caps, objects and other structured values are not offered
            // The property's own description names it; its name stays in the tool tip for
            // those who know the encoder by its options.
            const char* blurb = g_param_spec_get_blurb(spec);
            const QString name = QString::fromUtf8(spec->name);
            const QString text = blurb && *blurb ? QString::fromUtf8(blurb) : name;
            editor->setToolTip(text + " (" + name + ")");
            editor->setObjectName(name);
            auto* label = new QLabel(text);
            label->setWordWrap(true);
            label->setToolTip(editor->toolTip());
            form->addRow(label, editor);
            m_rows.push_back({spec, editor, std::move(read)});
        }
        g_free(specs);
    }
    auto* content = new QWidget;
    content->setLayout(form);
    auto* scroll = new QScrollArea;
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll);
    layout->addWidget(buttons);
    resize(460, 420);
}

CEncoderPropertiesDialog::~CEncoderPropertiesDialog() = default;

QWidget* CEncoderPropertiesDialog::Editor(const char* propertyName) const {
    for (const Row& row : m_rows)
        if (std::strcmp(row.spec->name, propertyName) == 0) return row.editor;
    return nullptr;
}

void CEncoderPropertiesDialog::Apply() {
    GObject* object = G_OBJECT(m_encoder.get());
    for (const Row& row : m_rows) {
        GValue edited = G_VALUE_INIT;
        g_value_init(&edited, row.spec->value_type);
        GValue current = G_VALUE_INIT;
        g_value_init(&current, row.spec->value_type);
        g_object_get_property(object, row.spec->name, &current);
        // Only changed values are written: setting some properties has side effects even
        // when the value stays the same.
        if (row.read(&edited) && !g_param_value_validate(row.spec, &edited) &&
            g_param_values_cmp(row.spec, &edited, &current) != 0)
            g_object_set_property(object, row.spec->name, &edited);
        g_value_unset(&current);
        g_value_unset(&edited);
    }
}
