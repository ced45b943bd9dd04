#include "support/ScriptedPrompts.h"

std::function<TFileDialogResult(const TFileDialogOptions&)>
TScriptedPrompts::Choose(QStringList files, int filterIndex) {
    return [files, filterIndex](const TFileDialogOptions&) {
        TFileDialogResult r;
        r.Accepted = true;
        r.Files = files;
        r.FilterIndex = filterIndex;
        return r;
    };
}

TModalResult TScriptedPrompts::MessageBox(QWidget*, const QString& text, const QString& caption,
                                          TMsgIcon icon, TMsgButtons buttons) {
    Messages.append({text, caption, icon, buttons});
    if (!MessageAnswers.empty()) {
        const TModalResult r = MessageAnswers.front();
        MessageAnswers.pop_front();
        return r;
    }
    return (buttons == mbOk || buttons == mbOkCancel) ? mrOk : mrCancel;
}

TFileDialogResult TScriptedPrompts::FileDialog(QWidget*, const TFileDialogOptions& options) {
    FileDialogs.append(options);
    if (FileAnswers.empty())
        return {};
    auto answer = std::move(FileAnswers.front());
    FileAnswers.pop_front();
    return answer(options);
}

bool TScriptedPrompts::FontDialog(QWidget*, QFont& font) {
    ++FontDialogs;
    if (FontAnswers.empty())
        return false;
    auto answer = std::move(FontAnswers.front());
    FontAnswers.pop_front();
    return answer(font);
}

bool TScriptedPrompts::ColorDialog(QWidget*, QColor& color, const TColorDialogOptions& options) {
    ColorDialogs.append(options);
    if (ColorAnswers.empty())
        return false;
    auto answer = std::move(ColorAnswers.front());
    ColorAnswers.pop_front();
    return answer(color);
}
