#pragma once

#include "settings/items.h"
#include "settings/settingsfields.h"

#include <QList>
#include <QStringList>

namespace veltra {

// The fields without a window: every value held in memory, "* * * *" until set. What the
// command line works on, through the same operations and codecs as the window.
class MemoryFields final : public SettingsFields
{
public:
    MemoryFields();

    QString presentValue(int page, int item) const override;
    void setPresentValue(int page, int item, const QString &text) override;
    QString setValue(int page, int item) const override;
    void setSetValue(int page, int item, const QString &text) override;
    bool clearOptionSelected(int index) const override;
    QString portText() const override { return m_port; }
    void setBusyPointer(bool) override {}

    void setPortText(const QString &text) override { m_port = text; }
    void setClearOptions(bool operationValues, bool maximumValues);

private:
    QList<QStringList> m_present;
    QList<QStringList> m_set;
    QString m_port;
    bool m_clear[2] = {false, false};
};

} // namespace veltra
