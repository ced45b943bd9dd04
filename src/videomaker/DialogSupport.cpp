#include "videomaker/DialogSupport.h"

#include "app/state/SpinEdit.h"

#include <QDialog>
#include <QLineEdit>

void PrepareFixedDialog(QDialog* dialog) {
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint);
    dialog->setFixedSize(dialog->size());
    dialog->setModal(true);
}

void LimitDigits(TSpinEdit* box, int digits) {
    if (QLineEdit* edit = box->findChild<QLineEdit*>())
        edit->setMaxLength(digits);
}
