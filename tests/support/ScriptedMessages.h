#pragma once

#include "ui/MessageBox.h"

#include <QList>

// Answers every message box at once, questions with `yes`, and keeps what it showed.
struct ScriptedMessages : MessageBox
{
    struct Shown
    {
        QString prompt;
        int style = 0; ///< -1 for a question
    };
    QList<Shown> shown;
    bool yes = false;

    QStringList prompts() const
    {
        QStringList texts;
        for (const Shown &box : shown)
            texts << box.prompt;
        return texts;
    }

    void show(const QString &prompt, int style, const QString &) override { shown.append({prompt, style}); }
    void ask(const QString &prompt, std::function<void(bool)> answer) override
    {
        shown.append({prompt, -1});
        answer(yes);
    }
};
