#pragma once

class QDialog;
class TSpinEdit;

// Shared set-up of the small fixed-size settings dialogs of the video maker.

// A fixed-size modal dialog with a title and a close box only: the size of its layout
// when it has one, else its present size.
void PrepareFixedDialog(QDialog* dialog);
// Lets `box` take at most `digits` typed characters.
void LimitDigits(TSpinEdit* box, int digits);
