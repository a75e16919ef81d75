#pragma once

#include <QPushButton>

// A button drawn as a link: accent-coloured text without a frame.
class LinkButton : public QPushButton {
    Q_OBJECT

public:
    explicit LinkButton(const QString &text, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
};
