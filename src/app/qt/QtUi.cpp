#include "app/qt/QtUi.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QTranslator>

namespace jarseal {

QString FromBytes(const std::string& text) {
    QString s = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

std::string ToBytes(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

namespace {

QMessageBox::Icon QtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Stop:
        return QMessageBox::Critical;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

Answer Ask(QWidget* parent, const std::string& text, MessageIcon icon, const std::string& title,
           bool withCancel) {
    QMessageBox box(QtIcon(icon), FromBytes(title), FromBytes(text), QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    QPushButton* cancel =
        withCancel ? box.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole) : nullptr;
    box.setDefaultButton(yes);
    box.setEscapeButton(withCancel ? cancel : no);
    box.exec();
    if (box.clickedButton() == yes)
        return Answer::Yes;
    if (box.clickedButton() == no || !withCancel)
        return Answer::No;
    return Answer::Cancel;
}

} // namespace

QString WrapToWidth(const QString& text, const QFontMetrics& metrics, int width) {
    QStringList lines;
    for (QString rest : text.split(QLatin1Char('\n'))) {
        while (metrics.horizontalAdvance(rest) > width) {
            qsizetype fits = 1;
            while (fits < rest.size() && metrics.horizontalAdvance(rest.left(fits + 1)) <= width)
                ++fits;
            const qsizetype slash = rest.left(fits).lastIndexOf(QLatin1Char('/'));
            const qsizetype cut = slash > 0 ? slash + 1 : fits;
            lines << rest.left(cut);
            rest = rest.mid(cut);
        }
        lines << rest;
    }
    return lines.join(QLatin1Char('\n'));
}

void QtUi::ShowMessage(const std::string& text, MessageIcon icon, const std::string& title) {
    // The notes belong to the run that this box ends; a success box shows
    // them as details, any other box drops them with the run.
    const std::vector<std::string> notes = std::move(notes_);
    notes_.clear();
    QMessageBox box(QtIcon(icon), FromBytes(title), QString(), QMessageBox::NoButton, parent_);
    // A long path has no blank to wrap at; unbroken it would run off the
    // screen and be clipped.
    const QScreen* screen = parent_ ? parent_->screen() : QGuiApplication::primaryScreen();
    const int room = screen ? std::min(500, screen->availableGeometry().width() / 2) : 500;
    box.setText(WrapToWidth(FromBytes(text), box.fontMetrics(), room));
    box.addButton(QStringLiteral("ОК"), QMessageBox::AcceptRole);
    if (icon == MessageIcon::None && !notes.empty()) {
        QStringList details;
        for (const std::string& note : notes)
            details << FromBytes(note);
        box.setDetailedText(details.join(QStringLiteral("\n\n")));
    }
    box.exec();
}

void QtUi::Note(const std::string& text) {
    notes_.push_back(text);
}

Answer QtUi::AskYesNo(const std::string& text, MessageIcon icon, const std::string& title) {
    return Ask(parent_, text, icon, title, false);
}

Answer QtUi::AskYesNoCancel(const std::string& text, MessageIcon icon, const std::string& title) {
    return Ask(parent_, text, icon, title, true);
}

std::string QtUi::InputBox(const std::string& prompt, const std::string& title,
                           const std::string& defaultText) {
    QInputDialog dialog(parent_);
    dialog.setWindowTitle(FromBytes(title));
    dialog.setLabelText(FromBytes(prompt));
    dialog.setTextValue(FromBytes(defaultText));
    dialog.setOkButtonText(QStringLiteral("ОК"));
    dialog.setCancelButtonText(QStringLiteral("Отмена"));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return ToBytes(dialog.textValue());
}

QString QtUi::NameFilter(const FileFilter& filter) {
    QStringList patterns;
    for (const QString& p : FromBytes(filter.pattern).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = p.trimmed();
        patterns << (trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed);
    }
    return FromBytes(filter.description) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
           QLatin1Char(')');
}

namespace {

// Runs a file dialog with the window's Russian labels and the accept
// button's text; the path chosen, or the empty text when cancelled.
std::string ChosenPath(QFileDialog& dialog, const QString& accept) {
    dialog.setLabelText(QFileDialog::Accept, accept);
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Отмена"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Имя файла:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Тип файлов:"));
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Папка:"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QFile::encodeName(dialog.selectedFiles().front()).toStdString();
}

} // namespace

std::string QtUi::OpenFileDialog(const std::string& title, const std::vector<FileFilter>& filters) {
    QStringList nameFilters;
    for (const auto& f : filters)
        nameFilters << NameFilter(f);
    QFileDialog dialog(parent_, FromBytes(title));
    // Qt's own dialog: the platform's dialogs name the file types by rules of
    // their own (GTK cuts a name at its first parenthesis) and ignore the
    // Russian labels below. The type list shows the descriptions as they
    // are, which name their patterns already; the patterns still filter.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::AnyFile); // a typed name that does not exist is returned too
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(nameFilters);
    return ChosenPath(dialog, QStringLiteral("Открыть"));
}

std::string ShowSaveDialog(QWidget* parent, const QString& title, const QString& suggestedName) {
    QFileDialog dialog(parent, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("Сертификаты (*.cer)"), QStringLiteral("Все файлы (*)")});
    dialog.setDirectory(QDir::home());
    dialog.selectFile(suggestedName);
    return ChosenPath(dialog, QStringLiteral("Сохранить"));
}

void QtUi::EndProgram(int status) {
    throw ProgramExit{status};
}

void InstallRussianTranslation() {
    auto* translator = new QTranslator(qApp);
    if (translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace jarseal
