#pragma once

#include <QWidget>

// The tooltip window of the recording toolbar. Main thread only.
class TFmToolHint : public QWidget {
    Q_OBJECT
public:
    explicit TFmToolHint(QWidget* parent = nullptr);
    ~TFmToolHint() override;
};
