#pragma once

// What the fuzz targets share: a property check that stops the run with a clear message, and
// the window's fields as plain texts with a log of every write, so that a target can tell
// exactly which fields a call touched.

#include "settings/items.h"
#include "settings/settingsfields.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace veltra::fuzz {

[[noreturn]] inline void violated(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "\n*** fuzz property violated at %s:%d: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

} // namespace veltra::fuzz

// A property that must hold for every input; libFuzzer saves the input that breaks it.
#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? void(0) : ::veltra::fuzz::violated(#condition, __FILE__, __LINE__))

namespace veltra::fuzz {

enum class FieldKind { Present, Set, Monitor };

struct FieldWrite
{
    FieldKind kind;
    int page;
    int item;
    QString text;
};

// Every field starts with a sentinel that no decoder or parser can produce (it holds a blank
// and names its own place), so an unchanged field is recognisable by its text alone.
class HarnessFields : public SettingsFields
{
public:
    HarnessFields() : m_present(sentinels().present), m_set(sentinels().set) {}

    static QString presentSentinel(int page, int item) { return sentinels().present[page][item]; }
    static QString setSentinel(int page, int item) { return sentinels().set[page][item]; }

    QString presentValue(int page, int item) const override
    {
        return inRange(page, item) ? m_present[page][item] : badRead();
    }
    void setPresentValue(int page, int item, const QString &text) override
    {
        m_writes.push_back({FieldKind::Present, page, item, text});
        if (inRange(page, item))
            m_present[page][item] = text;
    }
    QString setValue(int page, int item) const override
    {
        return inRange(page, item) ? m_set[page][item] : badRead();
    }
    void setSetValue(int page, int item, const QString &text) override
    {
        m_writes.push_back({FieldKind::Set, page, item, text});
        if (inRange(page, item))
            m_set[page][item] = text;
    }
    bool clearOptionSelected(int index) const override
    {
        return index >= 0 && index < 2 && m_clearOptions[std::size_t(index)];
    }
    QString portText() const override { return QStringLiteral("/dev/null"); }
    void setPortText(const QString &) override {}
    void setBusyPointer(bool) override { monitor({}); }

    void setClearOption(int index, bool selected) { m_clearOptions[std::size_t(index)] = selected; }

    const std::vector<FieldWrite> &writes() const { return m_writes; }
    void forgetWrites() { m_writes.clear(); }
    int badReads() const { return m_badReads; }

private:
    static constexpr int kMaxItems = kCommonItemCount;
    using Texts = std::array<std::array<QString, kMaxItems>, kPageCount>;

    // Built once: formatting them for every input would cost more than the code under test.
    struct Sentinels
    {
        Texts present;
        Texts set;
    };
    static const Sentinels &sentinels()
    {
        static const Sentinels texts = [] {
            Sentinels t;
            for (int page = 0; page < kPageCount; ++page) {
                for (int item = 0; item < kMaxItems; ++item) {
                    t.present[page][item] = QStringLiteral("present %1.%2").arg(page).arg(item);
                    t.set[page][item] = QStringLiteral("set %1.%2").arg(page).arg(item);
                }
            }
            return t;
        }();
        return texts;
    }

    static bool inRange(int page, int item)
    {
        return isSettingsPage(page) && item >= 0 && item < itemCount(page);
    }
    QString badRead() const
    {
        ++m_badReads;
        return {};
    }
    void monitor(const QString &text) { m_writes.push_back({FieldKind::Monitor, -1, -1, text}); }

    Texts m_present;
    Texts m_set;
    std::array<bool, 2> m_clearOptions{};
    std::vector<FieldWrite> m_writes;
    mutable int m_badReads = 0;
};

// A text decoding may put into the present-value field of `item` on `page`: an entry of the
// item's list, "ERROR", or for the station number any of 000..255 (the list offers 001..128).
inline bool isDecodedText(int page, int item, const QString &text)
{
    static const auto lists = [] {
        std::array<std::array<QStringList, kCommonItemCount>, 2> l;
        for (int i = 0; i < kCommonItemCount; ++i)
            l[0][std::size_t(i)] = valueList(PageKind::Common, i);
        for (int i = 0; i < kCircuitItemCount; ++i)
            l[1][std::size_t(i)] = valueList(PageKind::Circuit, i);
        return l;
    }();
    if (!isSettingsPage(page) || item < 0 || item >= itemCount(page))
        return false;
    if (text == errorText())
        return true;
    if (page == kCommonPage && item == kStationItem) {
        if (text.size() != 3)
            return false;
        int number = 0;
        for (QChar c : text) {
            if (c < u'0' || c > u'9')
                return false;
            number = number * 10 + (c.unicode() - u'0');
        }
        return number <= kStationMax;
    }
    const std::size_t kind = page == kCommonPage ? 0 : 1;
    return lists[kind][std::size_t(item)].contains(text);
}

} // namespace veltra::fuzz
