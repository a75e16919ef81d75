#pragma once

#include <QWidget>

class QPainter;

// A thin determinate progress bar: an accent bar on a faint track. Assistive technology
// sees a progress bar with its value in per cent.
class LinearProgress : public QWidget {
    Q_OBJECT

public:
    explicit LinearProgress(QWidget *parent = nullptr);

    // Fraction from 0 to 1.
    void setValue(double value);
    double value() const { return m_value; }
    QSize sizeHint() const override { return {90, 12}; }

    static constexpr double thickness = 5;
    static void paint(QPainter &painter, const QRectF &rect, double fraction,
                      const QPalette &palette);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_value = 0;
};
