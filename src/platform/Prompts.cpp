#include "platform/Prompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QFontInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

namespace {

// The shown window a box belongs to: `parent`'s window, or, while that window is still
// being built and not yet on screen, the nearest shown window among its owners. Qt
// centres a box over its parent's window; over one not yet shown it would stand in the
// corner of the screen.
QWidget* ShownOwner(QWidget* parent) {
    for (QWidget* w = parent; w != nullptr; w = w->window()->parentWidget())
        if (w->window()->isVisible())
            return w->window();
    return parent;
}

class TQtPrompts final : public TPrompts {
public:
    TModalResult MessageBox(QWidget* parent, const QString& text, const QString& caption,
                            TMsgIcon icon, TMsgButtons buttons) override {
        QMessageBox box(ShownOwner(parent));
        box.setWindowTitle(caption);
        box.setText(text);
        switch (icon) {
        case miNone:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case miInformation:
            box.setIcon(QMessageBox::Information);
            break;
        case miWarning:
            box.setIcon(QMessageBox::Warning);
            break;
        case miError:
            box.setIcon(QMessageBox::Critical);
            break;
        case miQuestion:
            box.setIcon(QMessageBox::Question);
            break;
        }
        switch (buttons) {
        case mbOk:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case mbOkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case mbYesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case mbYesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
        case mbRestoreDiscard: {
            // Escape or the close box must not throw anything away: they answer the
            // hidden cancel button.
            box.addButton(QStringLiteral("恢复"), QMessageBox::YesRole)
                ->setObjectName(QStringLiteral("Restore"));
            box.addButton(QStringLiteral("放弃"), QMessageBox::NoRole)
                ->setObjectName(QStringLiteral("Discard"));
            box.addButton(QMessageBox::Cancel)->hide();
            box.setEscapeButton(box.button(QMessageBox::Cancel));
            box.exec();
            const QAbstractButton* clicked = box.clickedButton();
            const QString name = clicked ? clicked->objectName() : QString();
            return name == QLatin1StringView("Restore")   ? mrYes
                   : name == QLatin1StringView("Discard") ? mrNo
                                                          : mrCancel;
        }
        }
        const std::pair<QMessageBox::StandardButton, const char16_t*> captions[] = {
            {QMessageBox::Ok, u"确定"},
            {QMessageBox::Cancel, u"取消"},
            {QMessageBox::Yes, u"是(&Y)"},
            {QMessageBox::No, u"否(&N)"}};
        for (const auto& [button, caption] : captions)
            if (QAbstractButton* b = box.button(button))
                b->setText(QString::fromUtf16(caption));
        switch (box.exec()) {
        case QMessageBox::Ok:
            return mrOk;
        case QMessageBox::Yes:
            return mrYes;
        case QMessageBox::No:
            return mrNo;
        case QMessageBox::Cancel:
            return mrCancel;
        default:
            return buttons == mbOk ? mrOk : mrCancel;
        }
    }

    TFileDialogResult FileDialog(QWidget* parent, const TFileDialogOptions& options) override {
        QFileDialog dialog(ShownOwner(parent), options.Title, options.InitialDir);
        const QStringList filters = QtNameFilters(options.Filter);
        dialog.setNameFilters(filters);
        if (options.FilterIndex >= 1 && options.FilterIndex <= filters.size())
            dialog.selectNameFilter(filters.at(options.FilterIndex - 1));
        dialog.setDefaultSuffix(options.DefaultExt);
        switch (options.Kind) {
        case TFileDialogOptions::fkOpen:
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setFileMode(options.FileMustExist ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
            break;
        case TFileDialogOptions::fkOpenMultiple:
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setFileMode(QFileDialog::ExistingFiles);
            break;
        case TFileDialogOptions::fkSave:
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.OverwritePrompt);
            break;
        }
        if (!options.FileName.isEmpty())
            dialog.selectFile(options.FileName);
        TFileDialogResult result;
        if (dialog.exec() != QDialog::Accepted)
            return result;
        result.Accepted = true;
        result.Files = dialog.selectedFiles();
        result.FilterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
        return result;
    }

    bool FontDialog(QWidget* parent, QFont& font) override {
        // A generic family such as "Sans Serif" is no face of the font list: the dialog
        // would show it with a made-up style list and lose the font's real style (the
        // bold default font came back "Normal"). It is shown as the face that draws it.
        QFont shown = font;
        shown.setFamily(QFontInfo(font).family());
        // Named by the face's own style name, since the dialog's style list holds those
        // and not the translated names of weights.
        if (shown.styleName().isEmpty())
            shown.setStyleName(QFontInfo(shown).styleName());
        bool ok = false;
        const QFont chosen = QFontDialog::getFont(&ok, shown, ShownOwner(parent));
        if (ok)
            font = chosen;
        return ok;
    }

    bool ColorDialog(QWidget* parent, QColor& color, const TColorDialogOptions& options) override {
        for (int i = 0; i < options.CustomColors.size() && i < QColorDialog::customCount(); ++i)
            QColorDialog::setCustomColor(i, options.CustomColors.at(i));
        const QColor chosen = QColorDialog::getColor(options.Initial, ShownOwner(parent));
        if (!chosen.isValid())
            return false;
        color = chosen;
        return true;
    }
};

TPrompts* gInstalled = nullptr;

} // namespace

TPrompts& Prompts() {
    static TQtPrompts qtPrompts;
    return gInstalled != nullptr ? *gInstalled : qtPrompts;
}

void SetPrompts(TPrompts* prompts) {
    gInstalled = prompts;
}

TModalResult ShowMessage(QWidget* parent, const QString& text, TMsgIcon icon, TMsgButtons buttons) {
    return Prompts().MessageBox(parent, text, QStringLiteral("Vexmira"), icon, buttons);
}

QStringList QtNameFilters(const QString& filter) {
    QStringList result;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts.at(i + 1).split(u';', Qt::SkipEmptyParts)) {
            const QString t = p.trimmed();
            for (const QString& form : {t, t.toLower(), t.toUpper()})
                if (!patterns.contains(form))
                    patterns << form;
        }
        result << parts.at(i) + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return result;
}

QString WithDefaultExtension(const QString& fileName, const QString& defaultExt) {
    if (defaultExt.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + u'.' + defaultExt;
}

bool InstallChineseQtTexts() {
    // One translator for the run; Qt's own dialogs and buttons speak Chinese whatever
    // the system's language is.
    static QTranslator* translator = nullptr;
    if (translator != nullptr)
        return true;
    auto* loaded = new QTranslator(QCoreApplication::instance());
    if (!loaded->load(QStringLiteral("qtbase_zh_CN"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete loaded;
        return false;
    }
    QCoreApplication::installTranslator(loaded);
    translator = loaded;
    return true;
}
