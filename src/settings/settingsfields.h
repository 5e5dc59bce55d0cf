#pragma once

#include <QString>

namespace veltra {

// The window's fields as the core sees them. The window owns every value; operations,
// codecs, validation and the settings file read and write through here and keep no copy.
// What the line carries (the monitor fields, the station caption) is not here: the link
// tells it by its signals.
class SettingsFields
{
public:
    virtual ~SettingsFields() = default;

    // Present value (read from the relay) and set value (to be written) by page and item.
    virtual QString presentValue(int page, int item) const = 0;
    virtual void setPresentValue(int page, int item, const QString &text) = 0;
    virtual QString setValue(int page, int item) const = 0;
    virtual void setSetValue(int page, int item, const QString &text) = 0;

    // The two clear choices: 0 operation values, 1 maximum values.
    virtual bool clearOptionSelected(int index) const = 0;

    // The text of the COM port field, as typed or chosen.
    virtual QString portText() const = 0;
    virtual void setPortText(const QString &text) = 0;

    virtual void setBusyPointer(bool busy) = 0;
};

} // namespace veltra
