#pragma once

#include <QList>
#include <QStringView>
#include <QUrl>

// Turns free text (pasted, typed or dropped) into the distinct web links it holds.
namespace URLInput {
QList<QUrl> extract(QStringView text);
}
