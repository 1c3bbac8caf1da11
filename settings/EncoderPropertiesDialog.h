#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "ConversionSettings.h"

class QWidget;

// A dialog over an encoder's own writable properties, built from their GParamSpecs: one row
// per property with its description as label and tool tip and an editor for its type holding the
// current value (booleans and each flag of a flag set as check boxes, enumerations as a list of
// their nicks, numbers as spin boxes over their range, texts as text). The properties that the
// framework's base classes give every element (name, parent, qos, ...) are left out. Apply()
// writes the changed values to the encoder instance; nothing is written before. User-interface
// thread only.
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
