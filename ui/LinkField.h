#pragma once

#include <QPlainTextEdit>

// The link field: grows with its text from one to four lines and scrolls beyond. Return
// submits it; Shift+Return starts a new line.
class LinkField : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit LinkField(QWidget *parent = nullptr);

    QString text() const { return toPlainText(); }
    // Replaces the text and puts the cursor at its end.
    void setText(const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void submitted();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int visibleLines() const;
    int heightFor(int lines) const;
    void fitHeight();

    int m_lines = 1;
};
