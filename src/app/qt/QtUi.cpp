#include "app/qt/QtUi.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
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

void QtUi::ShowMessage(const std::string& text, MessageIcon icon, const std::string& title) {
    QMessageBox box(QtIcon(icon), FromBytes(title), FromBytes(text), QMessageBox::NoButton, parent_);
    box.addButton(QStringLiteral("ОК"), QMessageBox::AcceptRole);
    box.exec();
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
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Открыть"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Отмена"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Имя файла:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Тип файлов:"));
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Папка:"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QFile::encodeName(dialog.selectedFiles().front()).toStdString();
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
