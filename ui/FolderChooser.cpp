#include "ui/FolderChooser.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <vector>

namespace qf {

namespace {

// The absolute, clean path of an existing folder; empty for anything else.
QString FolderPath(const QString& candidate)
{
    if (candidate.isEmpty())
        return {};
    const QFileInfo info(candidate);
    if (!info.isDir())
        return {};
    return QDir::cleanPath(info.absoluteFilePath());
}

bool IsInside(const QString& folder, const QString& root)
{
    if (root.isEmpty() || folder == root)
        return true;
    return folder.startsWith(root.endsWith(u'/') ? root : root + u'/');
}

// Qt's directory dialog with our instruction on top, our status line at the bottom, and an OK
// button that follows the chooser's hook as well as the folder's existence.
class FolderDialog : public QFileDialog {
public:
    FolderDialog(FolderChooser& chooser, QWidget* owner, const QString& root);

    // The folder OK gives now, if it is one that may be chosen; empty otherwise.
    QString selectedFolder() const;

    // OK, Enter in the name field and a double click all end here: the hook has the last word.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addAboveAndBelow(QWidget* above, QWidget* below);
    void selectionChanged();
    void applyOk();

    FolderChooser& chooser_;
    QString root_;
    QLabel* status_ = nullptr;
    QPushButton* ok_ = nullptr;
    QString validated_;  // the folder the hook saw last
    bool validatedOnce_ = false;
    bool okAllowed_ = false;
    bool applying_ = false;
};

FolderDialog::FolderDialog(FolderChooser& chooser, QWidget* owner, const QString& root)
    : QFileDialog(owner), chooser_(chooser), root_(root)
{
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::ShowDirsOnly, true);
    setFileMode(QFileDialog::Directory);
    setAcceptMode(QFileDialog::AcceptOpen);
    if (!chooser.caption.isEmpty())
        setWindowTitle(chooser.caption);

    auto* title = new QLabel(chooser.title.isEmpty() ? QStringLiteral("Open") : chooser.title, this);
    title->setObjectName(QString::fromLatin1(FolderChooser::kTitleName));
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);
    status_ = new QLabel(this);
    status_->setObjectName(QString::fromLatin1(FolderChooser::kStatusName));
    status_->setTextFormat(Qt::PlainText);
    status_->setVisible(chooser.showStatus);
    addAboveAndBelow(title, status_);

    // Nothing Qt remembers from earlier programs decides where the dialog opens or what its
    // side bar offers.
    const QString initial = FolderPath(chooser.initialFolder);
    if (!initial.isEmpty() && IsInside(initial, root))
        setDirectory(initial);
    else
        setDirectory(root.isEmpty() ? QDir::homePath() : root);
    if (root.isEmpty())
        setSidebarUrls({QUrl::fromLocalFile(QDir::rootPath()), QUrl::fromLocalFile(QDir::homePath())});
    else
        setSidebarUrls({QUrl::fromLocalFile(root)});

    if (auto* box = findChild<QDialogButtonBox*>())
        ok_ = box->button(QDialogButtonBox::Open);
    if (ok_)
        ok_->installEventFilter(this);

    // Each of these can change the folder OK would give. Queued, because the dialog updates its
    // views only after some of them are sent.
    const auto changed = [this] { selectionChanged(); };
    connect(this, &QFileDialog::currentChanged, this, changed, Qt::QueuedConnection);
    connect(this, &QFileDialog::directoryEntered, this, changed, Qt::QueuedConnection);
    if (auto* model = findChild<QFileSystemModel*>())
        connect(model, &QFileSystemModel::rootPathChanged, this, changed, Qt::QueuedConnection);
    if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        connect(name, &QLineEdit::textChanged, this, changed, Qt::QueuedConnection);
}

void FolderDialog::addAboveAndBelow(QWidget* above, QWidget* below)
{
    auto* grid = qobject_cast<QGridLayout*>(layout());
    if (!grid)
        return;
    struct Placed {
        QLayoutItem* item;
        int row, column, rowSpan, columnSpan;
    };
    std::vector<Placed> placed;
    while (grid->count() > 0) {
        Placed p{};
        grid->getItemPosition(0, &p.row, &p.column, &p.rowSpan, &p.columnSpan);
        p.item = grid->takeAt(0);
        placed.push_back(p);
    }
    const int columns = grid->columnCount();
    grid->addWidget(above, 0, 0, 1, columns);
    int rows = 1;
    for (const Placed& p : placed) {
        grid->addItem(p.item, p.row + 1, p.column, p.rowSpan, p.columnSpan, p.item->alignment());
        rows = std::max(rows, p.row + 1 + p.rowSpan);
    }
    grid->addWidget(below, rows, 0, 1, columns);
}

QString FolderDialog::selectedFolder() const
{
    const QString folder = FolderPath(selectedFiles().value(0));
    return IsInside(folder, root_) ? folder : QString();
}

void FolderDialog::selectionChanged()
{
    const QString folder = selectedFolder();
    if (validatedOnce_ && folder == validated_)
        return;
    validatedOnce_ = true;
    validated_ = folder;
    QString status;
    const bool hookAllows = chooser_.validateFolder(folder, status);
    if (chooser_.showStatus)
        status_->setText(status);
    okAllowed_ = hookAllows && !folder.isEmpty();
    applyOk();
}

void FolderDialog::applyOk()
{
    if (!ok_)
        return;
    applying_ = true;
    ok_->setEnabled(okAllowed_);
    applying_ = false;
}

bool FolderDialog::eventFilter(QObject* watched, QEvent* event)
{
    // The dialog sets its button by its own rules after every change; ours stand.
    if (watched == ok_ && event->type() == QEvent::EnabledChange && !applying_ && validatedOnce_)
        applyOk();
    return QFileDialog::eventFilter(watched, event);
}

void FolderDialog::showEvent(QShowEvent* event)
{
    QFileDialog::showEvent(event);
    // The folder selected as the dialog opens is a selection too.
    selectionChanged();
}

void FolderDialog::accept()
{
    selectionChanged();
    if (!okAllowed_)
        return;
    QFileDialog::accept();
}

}  // namespace

QString FolderChooser::trimFolder(const QString& folder)
{
    qsizetype end = folder.size();
    while (end > 0 && folder[end - 1].isSpace())
        --end;
    if (end > 1 && folder[end - 1] == u'/')
        --end;
    return folder.left(end);
}

bool FolderChooser::validateFolder(const QString& /*path*/, QString& /*status*/)
{
    return true;
}

int FolderChooser::browse(QWidget* owner)
{
    if (!initialFolder.isEmpty())
        initialFolder = trimFolder(initialFolder);
    QString root;
    if (!rootFolder.isEmpty()) {
        root = FolderPath(rootFolder);
        if (root.isEmpty())
            return 0;
    }
    FolderDialog dialog(*this, owner, root);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    const QString chosen = dialog.selectedFolder();
    if (chosen.isEmpty())
        return 0;
    path = chosen;
    return 1;
}

}  // namespace qf
