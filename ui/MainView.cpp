#include "MainView.h"

#include "Divider.h"
#include "DownloadQueue.h"
#include "ElidedLabel.h"
#include "EmptyState.h"
#include "Fonts.h"
#include "Footer.h"
#include "JobListModel.h"
#include "JobListView.h"
#include "LinkButton.h"
#include "LinkField.h"
#include "ProminentButton.h"
#include "SymbolView.h"
#include "ToolManager.h"
#include "URLInput.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QList<QUrl> webLinks(const QMimeData *data) {
    QList<QUrl> links;
    if (!data || !data->hasUrls())
        return links;
    for (const QUrl &url : data->urls())
        if (url.scheme().startsWith(u"http"_qs))
            links.append(url);
    return links;
}

} // namespace

MainView::MainView(ToolManager &tools, DownloadQueue &queue, const Desktop &desktop,
                   QWidget *parent)
    : QWidget(parent), m_tools(tools), m_queue(queue), m_desktop(desktop),
      m_format(m_preferences.format()), m_includePlaylist(m_preferences.includePlaylist()),
      m_outputPath(m_preferences.outputPath()), m_model(new JobListModel(queue, this)),
      m_input(new LinkField), m_formatPicker(new QComboBox), m_playlist(new QCheckBox),
      m_download(new ProminentButton(u"Download"_qs, ProminentButton::Size::regular)),
      m_folder(new ElidedLabel(Tint::secondary)), m_jobsOrEmpty(new QStackedWidget),
      m_jobList(new JobListView(*m_model, tools, queue, desktop)) {
    setAcceptDrops(true);
    m_input->setObjectName(u"linkField"_qs);
    m_formatPicker->setObjectName(u"formatPicker"_qs);
    m_playlist->setObjectName(u"playlistCheck"_qs);
    m_download->setObjectName(u"downloadButton"_qs);
    m_folder->setObjectName(u"folderPath"_qs);
    m_jobList->setObjectName(u"jobList"_qs);
    m_jobsOrEmpty->setObjectName(u"jobsOrEmpty"_qs);

    auto *paste = new QPushButton(u"Paste"_qs);
    paste->setObjectName(u"pasteButton"_qs);
    auto *linkRow = new QHBoxLayout;
    linkRow->setSpacing(8);
    linkRow->addWidget(m_input, 1, Qt::AlignTop);
    linkRow->addWidget(paste, 0, Qt::AlignTop);

    m_formatPicker->setAccessibleName(u"Format"_qs);
    m_formatPicker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (const OutputFormat format : allOutputFormats())
        m_formatPicker->addItem(label(format), rawValue(format));
    m_formatPicker->setCurrentIndex(static_cast<int>(allOutputFormats().indexOf(m_format)));
    m_playlist->setText(u"Whole playlist"_qs);
    m_playlist->setToolTip(
        u"When a link points into a playlist, download every video in it into its own folder."_qs);
    m_playlist->setChecked(m_includePlaylist);
    auto *optionsRow = new QHBoxLayout;
    optionsRow->setSpacing(12);
    optionsRow->addWidget(m_formatPicker);
    optionsRow->addWidget(m_playlist);
    optionsRow->addStretch();
    optionsRow->addWidget(m_download);

    const QFont callout = Fonts::callout(font());
    auto *folderSymbol =
        new SymbolView(Symbol::folder, Tint::secondary, QFontMetrics(callout).height());
    auto *change = new LinkButton(u"Change…"_qs);
    auto *open = new LinkButton(u"Open"_qs);
    change->setObjectName(u"changeFolderButton"_qs);
    open->setObjectName(u"openFolderButton"_qs);
    for (QWidget *item : {static_cast<QWidget *>(m_folder), static_cast<QWidget *>(change),
                          static_cast<QWidget *>(open)})
        item->setFont(callout);
    auto *folderRow = new QHBoxLayout;
    folderRow->setSpacing(6);
    folderRow->addWidget(folderSymbol);
    folderRow->addWidget(m_folder);
    folderRow->addWidget(change);
    folderRow->addWidget(open);
    folderRow->addStretch();

    auto *form = new QVBoxLayout;
    form->setContentsMargins(16, 16, 16, 14);
    form->setSpacing(12);
    form->addLayout(linkRow);
    form->addLayout(optionsRow);
    form->addLayout(folderRow);

    auto *empty = new EmptyState;
    empty->setObjectName(u"emptyState"_qs);
    m_jobsOrEmpty->addWidget(m_jobList);
    m_jobsOrEmpty->addWidget(empty);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(form);
    layout->addWidget(new Divider);
    layout->addWidget(m_jobsOrEmpty, 1);
    layout->addWidget(new Divider);
    layout->addWidget(new Footer(tools, queue, *m_model));

    connect(m_input, &LinkField::textChanged, this, &MainView::inputChanged);
    connect(m_input, &LinkField::submitted, this, &MainView::start);
    connect(paste, &QPushButton::clicked, this, &MainView::paste);
    connect(m_download, &QPushButton::clicked, this, &MainView::start);
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | key), this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, &MainView::start);
    }
    connect(m_formatPicker, &QComboBox::activated, this, [this](int index) {
        const OutputFormat chosen = allOutputFormats().at(index);
        if (chosen == m_format)
            return;
        m_format = chosen;
        m_preferences.setFormat(chosen);
    });
    connect(m_playlist, &QCheckBox::clicked, this, [this](bool checked) {
        m_includePlaylist = checked;
        m_preferences.setIncludePlaylist(checked);
    });
    connect(change, &LinkButton::clicked, this, &MainView::chooseFolder);
    connect(open, &LinkButton::clicked, this, &MainView::openFolder);
    connect(m_model, &JobListModel::rowsInserted, this, &MainView::showJobsOrEmptyState);
    connect(m_model, &JobListModel::rowsRemoved, this, &MainView::showJobsOrEmptyState);

    setFocusProxy(m_input);
    inputChanged();
    showFolder();
    showJobsOrEmptyState();
}

QUrl MainView::outputDirectory() const {
    QString path = m_outputPath;
    if (!path.endsWith(u'/'))
        path += u'/';
    return QUrl::fromLocalFile(path);
}

QString MainView::displayPath(const QString &path) {
    // Home is abbreviated only as a whole leading folder: /home/ann2 is not ~2.
    const QString shown = QDir::cleanPath(path), home = QDir::cleanPath(QDir::homePath());
    if (home == u"/" || !(shown == home || shown.startsWith(home + u'/')))
        return shown;
    return u'~' + shown.sliced(home.size());
}

void MainView::inputChanged() {
    const qsizetype links = URLInput::extract(m_input->text()).size();
    m_download->setText(links >= 2 ? u"Download %1"_qs.arg(links) : u"Download"_qs);
    m_download->setEnabled(links > 0);
    m_download->updateGeometry();
}

void MainView::start() {
    const QList<QUrl> links = URLInput::extract(m_input->text());
    if (links.isEmpty())
        return;
    download(links);
    m_input->setText(QString());
    // The Download button has just been disabled; focus goes back to the field, ready for
    // the next links, rather than on to whatever follows the button.
    m_input->setFocus(Qt::OtherFocusReason);
}

void MainView::download(const QList<QUrl> &links) {
    if (links.isEmpty())
        return;
    QList<DownloadRequest> requests;
    requests.reserve(links.size());
    const QUrl folder = outputDirectory();
    for (const QUrl &link : links)
        requests.append({link, m_format, m_includePlaylist, folder});
    m_queue.add(requests, m_tools.paths());
}

void MainView::appendToInput(const QString &text) {
    const QString current = m_input->text();
    m_input->setText(current.isEmpty() ? text : current + u'\n' + text);
}

void MainView::paste() {
    const QMimeData *clipboard = QGuiApplication::clipboard()->mimeData();
    if (!clipboard || !clipboard->hasText())
        return;
    appendToInput(clipboard->text().trimmed());
}

QString MainView::chooserStart(const QString &path) {
    if (QDir::isRelativePath(path))
        return QDir::homePath();
    // The folder itself may not exist yet (the default before the first download).
    QString folder = QDir::cleanPath(path);
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return QDir::homePath();
        folder = parent;
    }
    return folder;
}

void MainView::chooseFolder() {
    if (const auto chosen = m_desktop.chooseFolder(this, chooserStart(m_outputPath))) {
        m_outputPath = *chosen;
        m_preferences.setOutputPath(m_outputPath);
        showFolder();
    }
}

void MainView::openFolder() {
    QDir().mkpath(m_outputPath);
    m_desktop.openFolder(outputDirectory());
}

void MainView::showFolder() {
    m_folder->setText(displayPath(m_outputPath));
}

void MainView::showJobsOrEmptyState() {
    m_jobsOrEmpty->setCurrentIndex(m_model->rowCount() == 0 ? 1 : 0);
}

void MainView::dragEnterEvent(QDragEnterEvent *event) {
    if (!webLinks(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainView::dragMoveEvent(QDragMoveEvent *event) {
    if (!webLinks(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainView::dropEvent(QDropEvent *event) {
    const QList<QUrl> links = webLinks(event->mimeData());
    if (links.isEmpty()) {
        event->ignore();
        return;
    }
    QStringList texts;
    for (const QUrl &link : links)
        texts.append(link.toString(QUrl::FullyEncoded));
    appendToInput(texts.join(u'\n'));
    event->acceptProposedAction();
}
