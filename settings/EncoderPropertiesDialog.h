#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "ConversionSettings.h"

class QWidget;

// A generic dialog over an encoder's writable properties: one row per property with its name,
// an editor suited to its type (check box, spin box, list of choices, text) holding the current
// value, and the property's description as tool tip. Apply() writes the edited values to the
// encoder instance; nothing is written before. User-interface thread only.
class CEncoderPropertiesDialog : public QDialog {
    Q_OBJECT

public:
    CEncoderPropertiesDialog(ElementRef encoder, QWidget* parent = nullptr);
    ~CEncoderPropertiesDialog() override;

    bool HasProperties() const { return !m_rows.empty(); }
    // The editor of a property (null when the property is not offered).
    QWidget* Editor(const char* propertyName) const;
    // Writes every changed value to the encoder.
    void Apply();

private:
    struct Row {
        GParamSpec* spec;
        QWidget* editor;
        std::function<bool(GValue*)> read;  // editor -> value; false: leave the property
    };
    ElementRef m_encoder;
    std::vector<Row> m_rows;
};
