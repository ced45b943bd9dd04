#pragma once

#include "platform/Prompts.h"

#include <QList>

#include <deque>
#include <functional>

// Answers the program's modal prompts from a script instead of showing dialogs, and
// records what was asked. Installed for its lifetime.
class TScriptedPrompts final : public TPrompts {
public:
    struct TAskedMessage {
        QString Text, Caption;
        TMsgIcon Icon;
        TMsgButtons Buttons;
    };

    TScriptedPrompts() { SetPrompts(this); }
    ~TScriptedPrompts() override { SetPrompts(nullptr); }

    // Answers for the next message boxes; when none is queued a box answers mrOk (or
    // mrCancel when it has no OK button).
    std::deque<TModalResult> MessageAnswers;
    // Answers for the next file dialogs; when none is queued the dialog is cancelled.
    std::deque<std::function<TFileDialogResult(const TFileDialogOptions&)>> FileAnswers;
    std::deque<std::function<bool(QFont&)>> FontAnswers;
    std::deque<std::function<bool(QColor&)>> ColorAnswers;

    QList<TAskedMessage> Messages;
    QList<TFileDialogOptions> FileDialogs;
    QList<TColorDialogOptions> ColorDialogs;
    int FontDialogs = 0;

    // A file answer choosing these files.
    static std::function<TFileDialogResult(const TFileDialogOptions&)> Choose(QStringList files,
                                                                              int filterIndex = 1);

    TModalResult MessageBox(QWidget*, const QString& text, const QString& caption, TMsgIcon icon,
                            TMsgButtons buttons) override;
    TFileDialogResult FileDialog(QWidget*, const TFileDialogOptions& options) override;
    bool FontDialog(QWidget*, QFont& font) override;
    bool ColorDialog(QWidget*, QColor& color, const TColorDialogOptions& options) override;
};
