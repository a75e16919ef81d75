#pragma once

#include <QWidget>

// What the job list shows while it is empty.
class EmptyState : public QWidget {
    Q_OBJECT

public:
    explicit EmptyState(QWidget *parent = nullptr);
};
