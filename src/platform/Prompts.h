#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

class QWidget;

// Modal prompts: message boxes and the common file, font and colour dialogs. The
// program asks them through Prompts(); production answers with the Qt dialogs, tests
// install a scripted TPrompts that answers without showing anything. Main thread only.

enum TMsgIcon { miNone, miInformation, miWarning, miError, miQuestion };
// mbRestoreDiscard: "恢复" answers mrYes, "放弃" mrNo; closing the box answers mrCancel.
enum TMsgButtons { mbOk, mbOkCancel, mbYesNo, mbYesNoCancel, mbRestoreDiscard };
enum TModalResult { mrNone, mrOk, mrCancel, mrYes, mrNo };

struct TFileDialogOptions {
    enum TKind { fkOpen, fkOpenMultiple, fkSave };
    TKind Kind = fkOpen;
    QString Title;
    // Filters in the "text|pattern|text|pattern" form, patterns separated by ';'.
    QString Filter;
    int FilterIndex = 1; // 1-based, as the filter pairs are counted
    QString DefaultExt;  // without the dot; appended when the typed name has none
    QString InitialDir;
    QString FileName; // proposed name, shown in the file-name box
    bool OverwritePrompt = false;
    bool FileMustExist = false;
};

struct TFileDialogResult {
    bool Accepted = false;
    QStringList Files; // absolute paths, in the order chosen
    int FilterIndex = 1;
};

struct TColorDialogOptions {
    QColor Initial;
    QList<QColor> CustomColors; // shown as the dialog's custom colours
};

class TPrompts {
public:
    virtual ~TPrompts() = default;
    virtual TModalResult MessageBox(QWidget* parent, const QString& text, const QString& caption,
                                    TMsgIcon icon, TMsgButtons buttons) = 0;
    virtual TFileDialogResult FileDialog(QWidget* parent, const TFileDialogOptions& options) = 0;
    // Edits `font` in place; false when cancelled (then `font` is unchanged).
    virtual bool FontDialog(QWidget* parent, QFont& font) = 0;
    // Edits `color` in place; false when cancelled (then `color` is unchanged).
    virtual bool ColorDialog(QWidget* parent, QColor& color,
                             const TColorDialogOptions& options) = 0;
};

// The prompts in use. SetPrompts(nullptr) returns to the Qt dialogs; the caller keeps
// ownership of what it installs.
TPrompts& Prompts();
void SetPrompts(TPrompts* prompts);

// The message box captioned with the application title, as the program shows them.
TModalResult ShowMessage(QWidget* parent, const QString& text, TMsgIcon icon,
                         TMsgButtons buttons = mbOk);

// "text|pattern|..." filters as Qt name filters ("text (pattern pattern)"). Patterns are
// offered in lower and upper case, since file names here are case-sensitive.
QStringList QtNameFilters(const QString& filter);

// Appends `.defaultExt` to `fileName` when its name has no extension. Thread-safe.
QString WithDefaultExtension(const QString& fileName, const QString& defaultExt);

// Installs Qt's own Chinese texts (qtbase_zh_CN from Qt's translations folder) into the
// application, so the standard dialogs and buttons are Chinese. Once per run, after the
// application object exists; false when the translations are not installed.
bool InstallChineseQtTexts();
