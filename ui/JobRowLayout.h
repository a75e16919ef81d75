#pragma once

#include <QFont>
#include <QList>
#include <QRect>
#include <QStringList>

class DownloadJob;

// Where each part of one job row goes, for a row of a given width: the delegate's size hint
// and its painting use the same rectangles, and so does the row's live action button. The
// parts are centred in the row's rectangle; rowHeight is the height the row needs.
struct JobRowLayout {
    JobRowLayout(const DownloadJob &job, const QFont &font, const QRect &row);

    // The row's height alone, cheaply: the list asks for it far more often than it paints.
    static int height(const DownloadJob &job, const QFont &font, int width);

    QFont titleFont;
    QFont statusFont;
    QRect icon;
    QRect title;
    QRect bar;                    // empty without a progress bar
    QRect action;                 // empty without an action
    QString titleText;            // elided in the middle to fit
    QStringList statusLines;      // at most two, the second elided at its end
    QList<QRect> statusLineRects; // one per status line, as tall as the status font
    int rowHeight = 0;

    static constexpr int horizontalPadding = 12;
    static constexpr int verticalPadding = 8;
    static constexpr int iconBox = 28;
    static constexpr int spacing = 12;
    static constexpr int lineSpacing = 4;
    static constexpr int actionSide = 26;
    static constexpr int minimumGap = 8;
};
