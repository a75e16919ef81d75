#pragma once

#include <QPushButton>

// The one emphasised action of a screen: a push button filled with the accent colour.
class ProminentButton : public QPushButton {
    Q_OBJECT

public:
    enum class Size { regular, large };

    ProminentButton(const QString &text, Size size, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Size m_size;
};
