#pragma once

#include "operations/userprompts.h"

#include <QList>
#include <QQueue>
#include <QString>

#include <functional>

namespace veltra::test {

// The user, scripted: records every message and answers confirmations from a queue
// (No when the queue is empty), so no test ever waits on a modal box.
class ScriptedPrompts final : public UserPrompts
{
public:
    struct Message
    {
        QString text;
        int style = 0;
        QString details;
    };

    int ShowMessage(const QString &text, int style, const QString &details = {}) override
    {
        messages.append({text, style, details});
        if (onMessage)
            onMessage();
        if (style == kStyleConfirm)
            return answers.isEmpty() ? kAnswerNo : answers.dequeue();
        return kAnswerOk;
    }
    void showNotice(const QString &text) override { notices << text; }
    std::optional<QString> saveFileName() override { return takeName(saveNames); }
    std::optional<QString> openFileName() override { return takeName(openNames); }
    std::optional<QString> saveEditedFileName(const QString &proposedPath) override
    {
        proposedPaths << proposedPath;
        return takeName(saveNames);
    }
    std::optional<QString> openSiteFileName() override { return takeName(siteNames); }
    std::optional<QString> savePdfFileName(const QString &proposedName) override
    {
        proposedPdfNames << proposedName;
        return takeName(pdfNames);
    }
    std::optional<QString> saveLogFileName(const QString &proposedName) override
    {
        proposedLogNames << proposedName;
        return takeName(logNames);
    }
    void showAbout(const QString &text) override { abouts << text; }

    QStringList texts() const
    {
        QStringList list;
        for (const Message &m : messages)
            list << m.text;
        return list;
    }
    void clear() { messages.clear(); }

    QList<Message> messages;
    QQueue<int> answers;                      // confirmation answers
    QQueue<std::optional<QString>> saveNames; // nullopt: the dialog is cancelled
    QQueue<std::optional<QString>> openNames;
    QQueue<std::optional<QString>> siteNames;
    QQueue<std::optional<QString>> pdfNames;
    QStringList proposedPdfNames;
    QQueue<std::optional<QString>> logNames;
    QStringList proposedLogNames;
    QStringList proposedPaths; // what the save dialog for edited values proposed
    QStringList abouts;
    QStringList notices;             // boxes that do not wait
    std::function<void()> onMessage; // runs while a box would stand, before it is answered

private:
    static std::optional<QString> takeName(QQueue<std::optional<QString>> &queue)
    {
        return queue.isEmpty() ? std::nullopt : queue.dequeue();
    }
};

} // namespace veltra::test
