#include "videomaker/DialogSupport.h"

#include "state/SpinEdit.h"

#include <QDialog>
#include <QLayout>
#include <QLineEdit>

void PrepareFixedDialog(QDialog* dialog) {
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint);
    // A dialog arranged by a layout keeps the size its layout asks for, worked out once
    // the style and the fonts are known (its size now is only Qt's placeholder); a dialog
    // placed by hand keeps the size of its form.
    if (QLayout* layout = dialog->layout())
        layout->setSizeConstraint(QLayout::SetFixedSize);
    else
        dialog->setFixedSize(dialog->size());
    dialog->setModal(true);
}

void LimitDigits(TSpinEdit* box, int digits) {
    if (QLineEdit* edit = box->findChild<QLineEdit*>())
        edit->setMaxLength(digits);
}
