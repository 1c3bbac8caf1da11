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

bool Offered(const GParamSpec* spec) {
    if (!(spec->flags & G_PARAM_WRITABLE) || !(spec->flags & G_PARAM_READABLE)) return false;
    if (spec->flags & (G_PARAM_CONSTRUCT_ONLY | G_PARAM_DEPRECATED)) return false;
    // The object's name and parent belong to the pipeline, not to the encoding.
    return std::strcmp(spec->name, "name") != 0 && std::strcmp(spec->name, "parent") != 0;
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
        max = static_cast<long long>(std::min<gulong>(G_PARAM_SPEC_ULONG(spec)->maximum, LLONG_MAX));
    } else if (type == G_TYPE_INT64) {
        min = G_PARAM_SPEC_INT64(spec)->minimum;
        max = G_PARAM_SPEC_INT64(spec)->maximum;
    } else if (type == G_TYPE_UINT64) {
        min = 0;
        max = static_cast<long long>(std::min<guint64>(G_PARAM_SPEC_UINT64(spec)->maximum, LLONG_MAX));
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
            } else if (type == G_TYPE_STRING || G_TYPE_IS_FLAGS(type) || type == G_TYPE_INT64 ||
                       type == G_TYPE_UINT64 || type == G_TYPE_UINT || type == G_TYPE_ULONG ||
                       type == G_TYPE_LONG) {
                // Texts, flag sets and numbers wider than a spin box: edited as their
                // serialised text and parsed back by GStreamer.
                auto* line = new QLineEdit;
                GCharPtr text(type == G_TYPE_STRING ? g_value_dup_string(&current)
                                                    : gst_value_serialize(&current));
                line->setText(QString::fromUtf8(text ? text.get() : ""));
                read = [line, type](GValue* v) {
                    const QByteArray text = line->text().toUtf8();
                    if (type == G_TYPE_STRING) {
                        g_value_set_string(v, text.constData());
                        return true;
                    }
                    return gst_value_deserialize(v, text.constData()) != FALSE;
                };
                editor = line;
            }
            g_value_unset(&current);
            if (!editor) continue;  // caps, objects and other structured values are not offered
            const char* blurb = g_param_spec_get_blurb(spec);
            editor->setToolTip(QString::fromUtf8(blurb ? blurb : ""));
            editor->setObjectName(QString::fromUtf8(spec->name));
            auto* label = new QLabel(QString::fromUtf8(spec->name));
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
