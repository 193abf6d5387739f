#include "app/qt/MinimalWindow.h"

#include "app/Intake.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

namespace jarseal {

void RunReaction(const std::function<void()>& reaction) {
    try {
        reaction();
    } catch (const ProgramExit& exit) {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->hide();
        QCoreApplication::exit(exit.status);
    }
}

MinimalWindow::MinimalWindow(Context& ctx) : ctx_(ctx) {
    setWindowTitle(QStringLiteral("Jarseal"));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    auto* open = new QPushButton(QStringLiteral("Открыть"), this);
    open->setObjectName(QStringLiteral("btnOpen"));
    auto* panel = new QLabel(QStringLiteral("Перетащите сюда jar, jad, sis или sisx файл"), this);
    panel->setObjectName(QStringLiteral("dropPanel"));
    panel->setAlignment(Qt::AlignCenter);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setMinimumSize(240, 120);
    layout->addWidget(open);
    layout->addWidget(panel, 1);
    connect(open, &QPushButton::clicked, this, [this] { Guarded([this] { OpenCommand(ctx_); }); });
}

void MinimalWindow::Guarded(const std::function<void()>& reaction) {
    RunReaction(reaction);
}

void MinimalWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MinimalWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> files;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            files.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    event->acceptProposedAction();
    Guarded([&] { DropFiles(ctx_, files); });
}

} // namespace jarseal
